// The host chunk walk: refusals as a table, then the descriptors it builds.
#include <gtest/gtest.h>

#include "core/format/chunk_walk.h"
#include "reference/reference_codec.h"

namespace kvn {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes filled(size_t n, uint8_t b = 0x11) { return Bytes(n, b); }

// Chunk headers without (0x45, 0xC5) and with (0x55, 0xD5) the prefix-area bit.
Bytes stored(Bytes raw, uint8_t b0 = 0xC5, uint8_t b1 = 1) { return cat({{b0, b1}, raw}); }
Bytes coded(Bytes body, uint8_t b0 = 0x45, uint8_t b1 = 1) {
    return cat({{b0, b1}, le32(uint32_t(body.size() - 1)), body});
}
Bytes sizeWord(uint32_t word, uint8_t b0 = 0x45, uint8_t b1 = 1) { return cat({{b0, b1}, le32(word)}); }
constexpr uint32_t kFillMode = KVN_CHUNK_MODE_FILL << KVN_SIZE_HDR_MODE_SHIFT;

struct WalkErrorCase {
    const char* name;
    Bytes payload;
    uint64_t raw;
    uint32_t chunk;
    Error expected;
};

class ChunkWalkErrors : public testing::TestWithParam<WalkErrorCase> {};

TEST_P(ChunkWalkErrors, Refuses) {
    const auto& c = GetParam();
    std::vector<KvnChunkDesc> descs(KVN_MAX_CHUNKS_PER_BLOCK);
    ChunkWalk walk;
    EXPECT_EQ(walkChunks(c.payload, c.raw, c.chunk, 1.0f, 0, descs, &walk), c.expected)
        << errorName(c.expected);
}

const WalkErrorCase kWalkErrors[] = {
    {"EmptyPayload", {}, 5, 16, Error::Truncated},
    {"OneBytePayload", {0x45}, 5, 16, Error::Truncated},
    {"Chunk0BadNibble", stored(filled(5), 0xC4), 5, 16, Error::InvalidInternalHeader},
    {"Chunk0Version0", stored(filled(5), 0xC5, 0), 5, 16, Error::InvalidInternalHeader},
    {"Chunk0Version3", stored(filled(5), 0xC5, 3), 5, 16, Error::InvalidInternalHeader},
    {"PrefixAreaFillsPayload", cat({{0xD5, 1}, filled(6)}), 32, 16, Error::Truncated},
    {"TooManyChunks", stored(filled(1)), 65537, 1, Error::BadFrame},
    {"Chunk1HeaderMissing", stored(filled(4)), 8, 4, Error::Truncated},
    {"Chunk1HeaderHalf", cat({stored(filled(4)), {0xC5}}), 8, 4, Error::Truncated},
    {"Chunk1BadNibble", cat({stored(filled(4)), stored(filled(4), 0xC6)}), 8, 4,
     Error::InvalidInternalHeader},
    {"Chunk1Version3", cat({stored(filled(4)), stored(filled(4), 0xC5, 3)}), 8, 4,
     Error::InvalidInternalHeader},
    {"StoredChunkShort", stored(filled(3)), 4, 16, Error::Truncated},
    {"SizeHeaderShort", {0x45, 1, 0, 0, 0}, 4, 16, Error::BadChunkHeader},
    {"LongSizeHeaderShort", cat({sizeWord(2, 0x45, 0x81), {0, 0}}), 4, 16, Error::BadChunkHeader},
    {"Mode2", cat({sizeWord(2u << 18), filled(3)}), 4, 16, Error::BadChunkHeader},
    {"Mode3", cat({sizeWord(3u << 18), filled(3)}), 4, 16, Error::BadChunkHeader},
    {"FillByteMissing", sizeWord(kFillMode), 4, 16, Error::BadChunkHeader},
    {"CodedPayloadShort", cat({sizeWord(9), filled(9)}), 16, 16, Error::Truncated},
    {"Chunk1CodedShort", cat({stored(filled(4)), sizeWord(2), filled(2)}), 8, 4, Error::Truncated},
};

INSTANTIATE_TEST_SUITE_P(Table, ChunkWalkErrors, testing::ValuesIn(kWalkErrors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChunkWalk, RefusesTooFewDescriptorsAndOffsetsBeyond32Bits) {
    const Bytes payload = cat({stored(filled(16)), stored(filled(16))});
    std::vector<KvnChunkDesc> descs(2);
    ChunkWalk walk;
    EXPECT_EQ(walkChunks(payload, 32, 16, 1.0f, 0, std::span(descs).first(1), &walk), Error::BufferTooSmall);
    EXPECT_EQ(walkChunks(payload, 32, 16, 1.0f, 0xFFFFFFF0u, descs, &walk), Error::BadFrame);
    EXPECT_EQ(walkChunks(payload, 32, 16, 1.0f, 0xFFFFFFEFu - 16, descs, &walk), Error::None);
}

TEST(ChunkWalk, EmptyBlockHasNoChunks) {
    ChunkWalk walk;
    EXPECT_EQ(walkChunks({}, 0, 16, 1.0f, 0, {}, &walk), Error::None);
    EXPECT_EQ(walk.chunk_count, 0u);
}

// One record per chunk kind: the descriptor each becomes.
TEST(ChunkWalk, DescriptorsOfEveryRecordKind) {
    const Bytes payload = cat({
        stored(filled(16, 1), 0xD5),               // chunk 0 stored, prefix-area bit
        coded(filled(16, 2), 0x55),                // payload length = D: counts as stored
        sizeWord(kFillMode), {0xAB},               // byte fill, 7 bytes
        cat({{0x55, 0x81}, le32(4), {0, 0, 0}}), filled(5, 3),  // long size header, coded (C < D)
        stored(filled(16, 4), 0xD5, 2),            // version 2 reads as 1
        coded(filled(3, 5), 0x55, 0),              // version 0 allowed after chunk 0
        filled(8 * 5, 0xEE),                       // chunk-prefix area
    });
    std::vector<KvnChunkDesc> descs(6);
    ChunkWalk walk;
    ASSERT_EQ(walkChunks(payload, 6 * 16 - 2, 16, 4.0f, 1000, descs, &walk), Error::None);
    EXPECT_EQ(walk.chunk_count, 6u);
    EXPECT_TRUE(walk.has_prefix_area);
    EXPECT_EQ(walk.prefix_area_off, payload.size() - 40);
    EXPECT_EQ(walk.chunks_per_item, 4u);

    struct Expect {
        uint32_t src_off, comp_size, decomp_size, flags;
        uint8_t fill;
    };
    const Expect expect[] = {
        {2, 16, 16, KVN_CHUNK_KIND_STORED, 0},  {24, 16, 16, KVN_CHUNK_KIND_STORED, 0},
        {0, 0, 16, KVN_CHUNK_KIND_FILL, 0xAB},  {56, 5, 16, KVN_CHUNK_KIND_CODED, 0},
        {63, 16, 16, KVN_CHUNK_KIND_STORED, 0}, {85, 3, 14, KVN_CHUNK_KIND_CODED, 0},
    };
    for (uint32_t k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(descs[k].src_off, expect[k].src_off);
        EXPECT_EQ(descs[k].comp_size, expect[k].comp_size);
        EXPECT_EQ(descs[k].decomp_size, expect[k].decomp_size);
        EXPECT_EQ(descs[k].dst_off, 1000 + 16 * k);
        EXPECT_EQ(descs[k].flags, expect[k].flags);
        EXPECT_EQ(descs[k].fill_byte, expect[k].fill);
    }
}

TEST(ChunkWalk, ChunksPerWorkItem) {
    const Bytes one = stored(filled(16), 0xD5);
    Bytes with_area, without_area;
    for (int k = 0; k < 10; ++k) {
        with_area = cat({with_area, stored(filled(16), 0xD5)});
        without_area = cat({without_area, stored(filled(16), 0xC5)});
    }
    with_area = cat({with_area, filled(72)});
    struct Case {
        const Bytes* payload;
        float sc;
        uint32_t expected;
    };
    const Case cases[] = {{&with_area, 4.0f, 4}, {&with_area, 4.9f, 4}, {&with_area, 64.0f, 10},
                          {&with_area, 0.5f, 1}, {&without_area, 4.0f, 10}};
    std::vector<KvnChunkDesc> descs(10);
    for (const Case& c : cases) {
        ChunkWalk walk;
        ASSERT_EQ(walkChunks(*c.payload, 160, 16, c.sc, 0, descs, &walk), Error::None);
        EXPECT_EQ(walk.chunks_per_item, c.expected) << c.sc;
    }
}

// A one-chunk block has no prefix area even with the bit set.
TEST(ChunkWalk, SingleChunkHasNoPrefixArea) {
    const Bytes payload = stored({0x42}, 0xD5);
    std::vector<KvnChunkDesc> descs(1);
    ChunkWalk walk;
    ASSERT_EQ(walkChunks(payload, 1, 65536, 0.25f, 0, descs, &walk), Error::None);
    EXPECT_FALSE(walk.has_prefix_area);
    EXPECT_EQ(descs[0].comp_size, 1u);
}

TEST(ChunkWalk, ByteFillChunkDecodesToItsByte) {
    const Bytes payload = cat({sizeWord(kFillMode, 0x55), {0xAB}});
    ASSERT_EQ(payload.size(), 7u);
    std::vector<uint8_t> out(65536);
    ASSERT_EQ(ref::decodeBlock(payload, 65536, 65536, 0.25f, out, 0, {}), Error::None);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0xAB), 65536);
}

TEST(ChunkWalk, PrefixesOverwriteLaterChunkStarts) {
    // Chunks of 16, 16 and 5 bytes; the last is shorter than a prefix entry.
    const Bytes prefixes = cat({filled(8, 0xA1), filled(8, 0xA2)});
    const Bytes payload = cat({stored(filled(16, 1), 0xD5), stored(filled(16, 2), 0xD5),
                               stored(filled(5, 3), 0xD5), prefixes});
    std::vector<uint8_t> out(37);
    ASSERT_EQ(ref::decodeBlock(payload, 37, 16, 1.0f, out, 0, {}), Error::None);
    Bytes expect = cat({filled(16, 1), filled(8, 0xA1), filled(8, 2), filled(5, 0xA2)});
    EXPECT_EQ(out, expect);

    // Without the bit there is no area: the payload tail is not read as one.
    const Bytes plain = cat({stored(filled(16, 1)), stored(filled(16, 2)), prefixes});
    ASSERT_EQ(ref::decodeBlock(plain, 32, 16, 1.0f, out, 0, {}), Error::None);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 32), cat({filled(16, 1), filled(16, 2)}));
}

TEST(ChunkWalk, SubChunkNumbering) {
    auto desc = [](uint32_t decomp, uint32_t flags) {
        KvnChunkDesc d{};
        d.decomp_size = decomp;
        d.flags = flags;
        return d;
    };
    const std::vector<KvnChunkDesc> descs = {
        desc(262144, KVN_CHUNK_KIND_STORED), desc(65536, KVN_CHUNK_KIND_FILL), desc(0, 0),
        desc(262144, 0), desc(131073, 0), desc(1, 0), desc(5, KVN_CHUNK_FLAG_FRAME_FIRST),
        desc(262144, KVN_CHUNK_FLAG_FRAME_FIRST)};  // the flag does not change a coded chunk's count
    std::vector<uint32_t> starts(descs.size());
    EXPECT_EQ(subChunkStarts(descs, KVN_SUBCHUNK_SIZE, starts.data()), 11u);
    EXPECT_EQ(starts, (std::vector<uint32_t>{0, 1, 2, 3, 5, 7, 8, 9}));
    EXPECT_EQ(subChunkStarts(descs, 0, starts.data()), 16u);  // 0 reads as 65536
    EXPECT_EQ(starts, (std::vector<uint32_t>{0, 1, 2, 3, 7, 10, 11, 12}));
}

}  // namespace
}  // namespace kvn
