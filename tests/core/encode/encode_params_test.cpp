#include <gtest/gtest.h>

#include <cmath>

#include "core/encode/encode_params.h"
#include "core/encode/frame_geometry.h"
#include "core/encode/level_table.h"

namespace kvn {
namespace {

TEST(EncodeParams, ZeroOptionsAreTheDefaults) {
    const EncodeParams p = encodeParamsFromOptions(CompressOpts{});
    EXPECT_EQ(p.level, 1);
    EXPECT_EQ(p.block_size, 262144u);
    EXPECT_FALSE(p.sc_group_size_set);
    EXPECT_EQ(chunkFraction(p), 0.25f);
    EXPECT_FALSE(p.use_dict);
    EXPECT_EQ(p.min_dist_floor, 0u);
    EXPECT_TRUE(p.write_content_size);
    EXPECT_TRUE(p.chunk_table);
    EXPECT_FALSE(p.checksum || p.merkle || p.wrt || p.wrt_force_cpu);
    EXPECT_EQ(p.byte_plane_stride, 0);
}

TEST(EncodeParams, EachOptionMapsToItsField) {
    struct Case {
        const char* what;
        void (*set)(CompressOpts&);
        bool (*check)(const EncodeParams&);
    };
    const Case cases[] = {
        {"level kept whole", [](CompressOpts& o) { o.level = 257; }, [](const EncodeParams& p) { return p.level == 257; }},
        {"level 2", [](CompressOpts& o) { o.level = 2; }, [](const EncodeParams& p) { return p.level == 2; }},
        {"negative level kept", [](CompressOpts& o) { o.level = -1; }, [](const EncodeParams& p) { return p.level == -1; }},
        {"negative floor is 0", [](CompressOpts& o) { o.min_match_distance = -5; },
         [](const EncodeParams& p) { return p.min_dist_floor == 0; }},
        {"floor", [](CompressOpts& o) { o.min_match_distance = 300; },
         [](const EncodeParams& p) { return p.min_dist_floor == 300; }},
        {"dictionary", [](CompressOpts& o) { o.dict_id = 9; },
         [](const EncodeParams& p) { return p.use_dict && p.dict_id == 9; }},
        {"fraction", [](CompressOpts& o) { o.sc_group_size = 1.0f; },
         [](const EncodeParams& p) { return p.sc_group_size_set && chunkFraction(p) == 1.0f; }},
        {"negative zero fraction counts as given", [](CompressOpts& o) { o.sc_group_size = -0.0f; },
         [](const EncodeParams& p) { return p.sc_group_size_set; }},
        {"table off below 0", [](CompressOpts& o) { o.chunk_table = -1; },
         [](const EncodeParams& p) { return !p.chunk_table; }},
        {"checksum and root", [](CompressOpts& o) { o.content_checksum = 3, o.merkle_root = -1; },
         [](const EncodeParams& p) { return p.checksum && p.merkle; }},
        {"listed stride", [](CompressOpts& o) { o.byte_plane_stride = 28; },
         [](const EncodeParams& p) { return p.byte_plane_stride == 28; }},
        {"automatic stride is 0 here", [](CompressOpts& o) { o.byte_plane_stride = -1; },
         [](const EncodeParams& p) { return p.byte_plane_stride == 0; }},
        {"unlisted stride is 0", [](CompressOpts& o) { o.byte_plane_stride = 5; },
         [](const EncodeParams& p) { return p.byte_plane_stride == 0; }},
        {"wrt", [](CompressOpts& o) { o.wrt = 1; }, [](const EncodeParams& p) { return p.wrt && !p.wrt_force_cpu; }},
    };
    for (const Case& c : cases) {
        CompressOpts opts{};
        c.set(opts);
        EXPECT_TRUE(c.check(encodeParamsFromOptions(opts))) << c.what;
    }
}

TEST(FrameGeometry, CutsChunksAndSubChunksByFraction) {
    struct Case {
        uint64_t len;
        float fraction;
        FrameGeometry want;
    };
    const Case cases[] = {
        {129, 0.25f, {65536, 1, 65536, 1, 1}},
        {65537, 0.25f, {65536, 2, 65536, 2, 1}},
        {262144, 0.5f, {131072, 2, 131072, 2, 1}},
        {262145, 1.0f, {262144, 2, 131072, 3, 2}},
        {600000, 1.0f, {262144, 3, 131072, 5, 2}},
        {1000, 0.125f, {32768, 1, 32768, 1, 1}},
        // Whole fractions above 1: one window of trunc(f) chunks.
        {1 << 20, 2.0f, {262144, 4, 131072, 8, 4}},
        {1 << 20, 2.5f, {262144, 4, 131072, 8, 4}},
    };
    for (const Case& c : cases) {
        const FrameGeometry g = frameGeometry(c.len, c.fraction);
        EXPECT_EQ(g.chunk, c.want.chunk) << c.len << " @ " << c.fraction;
        EXPECT_EQ(g.chunks, c.want.chunks) << c.len << " @ " << c.fraction;
        EXPECT_EQ(g.sub, c.want.sub) << c.len << " @ " << c.fraction;
        EXPECT_EQ(g.sub_chunks, c.want.sub_chunks) << c.len << " @ " << c.fraction;
        EXPECT_EQ(g.subs_per_group, c.want.subs_per_group) << c.len << " @ " << c.fraction;
    }
}

// The frame codes are stored in frames and the hash bits and insertion decide
// the parse byte for byte: none may drift.
TEST(LevelTable, EveryLevelsChoices) {
    const uint8_t codes[] = {1, 2, 3, 5, 6};
    const uint32_t bits[] = {14, 16, 15, 15, 17};
    const bool insert[] = {false, true, false, true, true};
    const bool entropy[] = {false, false, true, true, true};
    for (int32_t level = kLowestLevel; level <= kHighestLevel; ++level) {
        const LevelParams& p = levelParams(level);
        EXPECT_EQ(p.frame_code, codes[level - 1]) << level;
        EXPECT_EQ(p.hash_bits, bits[level - 1]) << level;
        EXPECT_EQ(p.insert_in_matches, insert[level - 1]) << level;
        EXPECT_EQ(p.entropy_coded, entropy[level - 1]) << level;
        EXPECT_EQ(p.parse, level == kHighestLevel ? ParseMode::SortParse : ParseMode::Greedy) << level;
    }
}

}  // namespace
}  // namespace kvn
