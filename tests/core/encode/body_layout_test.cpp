#include <gtest/gtest.h>

#include <vector>

#include "core/encode/body_layout.h"
#include "core/encode/chunk_descriptors.h"

namespace kvn {
namespace {

TEST(ChunkDescriptors, SlotsFollowTheGeometry) {
    const uint64_t len = 262144 + 1000;
    const FrameGeometry g = frameGeometry(len, 1.0f);
    const std::vector<CompressChunkDesc> d = buildChunkDescriptors(g, len);
    ASSERT_EQ(d.size(), 3u);
    const uint32_t stride = 3 * 131072;
    EXPECT_EQ(d[0].src_offset, 0u);
    EXPECT_EQ(d[0].first, 1u);
    EXPECT_EQ(d[1].src_offset, 131072u);
    EXPECT_EQ(d[1].out_offset, stride);
    EXPECT_EQ(d[2].src_offset, 262144u);
    EXPECT_EQ(d[2].length, 1000u);
    EXPECT_EQ(d[2].out_offset, 2 * stride);
    EXPECT_EQ(d[2].first, 0u);
    for (const CompressChunkDesc& x : d) EXPECT_EQ(x.out_stride, stride);
}

TEST(SubChunkPlacement, PacksWithHeadersAndKeepsOnlyTheHeaderOfAnUnwalkedSubChunk) {
    std::vector<uint32_t> offsets;
    uint64_t total = 0;
    const std::vector<uint32_t> measured = {10, 20, 5};
    ASSERT_EQ(placeSubChunks(measured, offsets, &total), Error::None);
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 13, 36}));
    EXPECT_EQ(total, 44u);
    // An unwalked sub-chunk (its chunk goes raw) takes just its header.
    ASSERT_EQ(placeSubChunks(std::vector<uint32_t>{10, 0, 4}, offsets, &total), Error::None);
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 13, 16}));
    EXPECT_EQ(total, 23u);
}

struct LayoutCase {
    const char* what;
    uint64_t len;
    float fraction;
    std::vector<uint32_t> lz_sizes, measured;
    std::vector<bool> raw;
};

TEST(BodyLayout, ChoosesCompressedOrRawPerChunk) {
    const LayoutCase cases[] = {
        {"shrinking single chunk", 1000, 0.25f, {400}, {396}, {false}},
        {"assembled plus headers reach the length", 1000, 0.25f, {900}, {997}, {true}},
        {"an LZ output as long as its sub-chunk", 1000, 0.25f, {1000}, {100}, {true}},
        {"incompressible second chunk", 70000, 0.25f, {30000, 4500}, {29990, 4470}, {false, true}},
        {"one wide sub-chunk makes its chunk raw", 300000, 1.0f, {1000, 131072, 100}, {900, 900, 90},
         {true, false}},
        // A parse cut short reports LZ size 0: that chunk is stored, the others stay coded.
        {"a failed LZ parse stores its chunk raw", 300000, 1.0f, {1000, 0, 100}, {900, 0, 90}, {true, false}},
        {"an unmeasured sub-chunk stores its chunk raw", 300000, 1.0f, {1000, 900, 100}, {900, 0, 90},
         {true, false}},
    };
    const uint64_t header_len = 22;
    for (const LayoutCase& c : cases) {
        const FrameGeometry g = frameGeometry(c.len, c.fraction);
        const std::vector<CompressChunkDesc> descs = buildChunkDescriptors(g, c.len);
        ASSERT_EQ(descs.size(), c.lz_sizes.size()) << c.what;
        std::vector<uint32_t> offsets;
        uint64_t total = 0;
        ASSERT_EQ(placeSubChunks(c.measured, offsets, &total), Error::None);
        BodyLayout layout;
        ASSERT_EQ(layoutBody(descs, c.lz_sizes, c.measured, offsets, g.chunk, c.len, header_len, &layout), Error::None);
        ASSERT_EQ(layout.body_offsets.size(), c.raw.size()) << c.what;
        uint64_t at = header_len + 8;
        uint64_t records = 0;
        size_t s = 0;
        for (size_t k = 0; k < c.raw.size(); ++k) {
            const uint64_t chunk_len = std::min<uint64_t>(g.chunk, c.len - k * g.chunk);
            EXPECT_EQ(layout.body_offsets[k] == kRawChunk, c.raw[k]) << c.what << " chunk " << k;
            EXPECT_EQ(layout.record_offsets[k], at) << c.what;
            uint64_t assembled = 0;
            const size_t first = s;
            for (; s < descs.size() && descs[s].src_offset < k * g.chunk + chunk_len; ++s) assembled += c.measured[s] + 3;
            const uint64_t record = c.raw[k] ? chunk_len + 2 : assembled + 6;
            if (!c.raw[k]) EXPECT_EQ(layout.body_offsets[k], offsets[first]);
            EXPECT_EQ(chunkRecordLength(layout, k), record) << c.what;
            at += record;
            records += record;
        }
        const uint64_t n = c.raw.size();
        EXPECT_EQ(layout.records_end, at) << c.what;
        EXPECT_EQ(layout.block_payload, records + 8 * (n - 1)) << c.what;
        EXPECT_EQ(layout.frame_len, at + 8 * n - 4) << c.what;
        EXPECT_EQ(layout.end_mark, layout.frame_len - 4) << c.what;
    }
}

TEST(BodyLayout, SingleChunkFrameHasNoPrefixArea) {
    const FrameGeometry g = frameGeometry(500, 0.25f);
    const std::vector<CompressChunkDesc> descs = buildChunkDescriptors(g, 500);
    const std::vector<uint32_t> lz = {300}, measured = {290};
    std::vector<uint32_t> offsets;
    uint64_t total = 0;
    ASSERT_EQ(placeSubChunks(measured, offsets, &total), Error::None);
    BodyLayout layout;
    ASSERT_EQ(layoutBody(descs, lz, measured, offsets, g.chunk, 500, 22, &layout), Error::None);
    EXPECT_EQ(layout.block_payload, 293u + 6);
    EXPECT_EQ(layout.frame_len, 22u + 8 + 299 + 4);
}

}  // namespace
}  // namespace kvn
