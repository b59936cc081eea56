// What the reference encoder writes: the LZ streams of characteristic inputs,
// the assembler's form choices, and the chunk records of a block.
#include <gtest/gtest.h>

#include "chunk_test_data.h"
#include "core/format/chunk_walk.h"
#include "core/format/frame_header.h"
#include "reference/reference_codec.h"

namespace kvn {
namespace {

using Bytes = std::vector<uint8_t>;

ref::SubChunkStreams parseOne(const Bytes& input, bool frame_first, ref::LzParams params = {}) {
    const uint32_t lens[] = {uint32_t(input.size())};
    auto streams = ref::lzEncodeGroup(input.data(), lens, frame_first, params);
    EXPECT_EQ(streams.size(), 1u);
    return streams[0];
}

Bytes lengthValue(uint32_t v) {
    Bytes out;
    ref::appendLength(out, v);
    return out;
}

// Decodes the streams back (as a coded chunk at offset 0 when frame_first).
Bytes decodeStreams(const ref::SubChunkStreams& s, bool frame_first) {
    const Bytes sub = ref::encodeSubChunk(s, false);
    const auto parsed = ref::parseSubChunk(sub.data() + 3, uint32_t(sub.size() - 3), s.raw_len, frame_first);
    Bytes out(s.raw_len, 0);
    std::copy(s.raw8.begin(), s.raw8.end(), out.begin());
    ref::decodeSequence(parsed, KVN_LITMODE_PLAIN, s.raw_len, out, 0, {});
    return out;
}

TEST(LzEncode, AllDifferentBytesAreLiteralRuns) {
    struct Case {
        size_t len;
        Bytes tokens, lengths;
    };
    const Case cases[] = {{200, {0x00}, lengthValue(136)},
                          {20, {0x87, 0x87, 0x86}, {}},
                          {7, {0x87}, {}},
                          {3, {0x83}, {}}};
    for (const Case& c : cases) {
        const Bytes input = test::randomBytes(c.len, 9);
        const auto s = parseOne(input, false);
        EXPECT_EQ(s.tokens, c.tokens) << c.len;
        EXPECT_EQ(s.lengths, c.lengths) << c.len;
        EXPECT_EQ(s.literals, input);
        EXPECT_TRUE(s.off16.empty() && s.off32_first.empty() && s.off32_second.empty());
        const Bytes lz = ref::lzOutput(s);
        // Off16 count and off32 word are zero.
        const size_t at = 3 + c.len + 3 + c.tokens.size();
        EXPECT_EQ(Bytes(lz.begin() + at, lz.begin() + at + 5), Bytes(5, 0)) << c.len;
    }
}

TEST(LzEncode, ByteRunMatchesAtDistanceEight) {
    Bytes input = {1, 2, 3, 4, 5, 6, 7, 8};
    input.insert(input.end(), 1000, 'a');
    const auto s = parseOne(input, true);
    EXPECT_EQ(s.raw8, Bytes(input.begin(), input.begin() + 8));
    EXPECT_EQ(s.literals, Bytes(8, 'a'));
    EXPECT_EQ(s.tokens, (Bytes{0x87, 0x81, 0x01}));  // 7 + 1 literals, then command 1
    EXPECT_EQ(s.off16, std::vector<uint16_t>{8});
    EXPECT_EQ(s.lengths, lengthValue(992 - 91));
    EXPECT_EQ(decodeStreams(s, true), input);
}

TEST(LzEncode, SecondHalfOfOneByte) {
    const Bytes input = test::randomBytes(65537, 4);
    const auto s = parseOne(input, false);
    EXPECT_EQ(s.tokens, (Bytes{0x00, 0x81}));
    EXPECT_EQ(s.first_half_tokens, 1);
    EXPECT_EQ(s.lengths, lengthValue(65536 - 64));
}

// Far repeats: 10 bytes are too short at a distance of 64 KiB or more, 20 are
// taken as one far match in the second half (a large table keeps the old
// position from being replaced).
TEST(LzEncode, FarMatchesNeedFourteenBytes) {
    ref::LzParams params;
    params.hash_bits = 22;
    for (uint32_t len : {10u, 20u}) {
        Bytes input = test::randomBytes(131072, 21);
        std::copy(input.begin() + 100, input.begin() + 100 + len, input.begin() + 70500);
        const auto s = parseOne(input, false, params);
        EXPECT_TRUE(s.off32_first.empty());
        EXPECT_EQ(s.off32_second.size(), len == 20 ? 1u : 0u) << len;
        if (len == 20) EXPECT_EQ(s.off32_second[0], 65536u - 100);
        EXPECT_EQ(decodeStreams(s, false), input);
    }
}

// No decoder reads the 4-byte off32 form, so a group longer than 12 MiB
// takes no source further than 0xBFFFFF bytes back from the half's start: a
// piece seen 12.7 MB earlier stays literal, one within the range is matched.
TEST(LzEncode, NoSourceBeyondTheThreeByteOff32Range) {
    const uint32_t sub = 131072, count = 98;
    const uint64_t base = uint64_t(count - 1) * sub;  // the last sub-chunk
    Bytes input = test::randomBytes(uint64_t(count) * sub, 31);
    const uint64_t too_far = 1000, in_range = base - KVN_OFF32_SHORT_MAX + 5000;
    std::copy_n(input.begin() + too_far, 64, input.begin() + base + 20000);
    std::copy_n(input.begin() + in_range, 64, input.begin() + base + 40000);
    ref::LzParams params;
    params.hash_bits = 24;
    const std::vector<uint32_t> lens(count, sub);
    const auto streams = ref::lzEncodeGroup(input.data(), lens, false, params);
    const ref::SubChunkStreams& last = streams.back();
    ASSERT_EQ(last.off32_first.size(), 1u);
    EXPECT_EQ(last.off32_first[0], base - in_range);
    EXPECT_TRUE(last.off32_second.empty());
    for (const auto& s : streams)
        for (const auto* list : {&s.off32_first, &s.off32_second})
            for (uint32_t w : *list) EXPECT_LE(w, KVN_OFF32_SHORT_MAX);
}

TEST(LzEncode, FloorKeepsShortDistancesOut) {
    // A period of 10 (matches too near to take), then a period of 150.
    Bytes input;
    for (int i = 0; i < 500; ++i) input.push_back(uint8_t("abcdefghij"[i % 10]));
    const Bytes block = test::randomBytes(150, 5);
    for (int i = 0; i < 20; ++i) input.insert(input.end(), block.begin(), block.end());
    ref::LzParams params;
    params.min_distance = 100;
    const auto s = parseOne(input, false, params);
    ASSERT_FALSE(s.off16.empty());
    for (uint16_t d : s.off16) EXPECT_EQ(d, 150);
    EXPECT_EQ(decodeStreams(s, false), input);
}

TEST(Assemble, StreamFormsChosenBySize) {
    ref::SubChunkStreams s;
    s.raw_len = 50000;
    s.literals = test::randomBytes(10, 1);  // too short to gain from coding
    s.tokens.assign(5000, 0x80);            // codes to a fraction
    s.off16.assign(31, 5);                  // below 32 entries: never coded
    auto parse = [&] {
        const Bytes sub = ref::encodeSubChunk(s, true);
        return ref::parseSubChunk(sub.data() + 3, uint32_t(sub.size() - 3), s.raw_len, false);
    };
    auto p = parse();
    EXPECT_EQ(p.huffman_streams, 1u);
    EXPECT_FALSE(p.off16_split);

    // 1000 small distances: the high bytes code well, the low bytes do not.
    s.off16.clear();
    for (int i = 0; i < 1000; ++i) s.off16.push_back(uint16_t(i * 37 % 251));
    p = parse();
    EXPECT_TRUE(p.off16_split);
    EXPECT_EQ(p.huffman_streams, 2u);
    EXPECT_EQ(p.off16, s.off16);
    // Without Huffman coding the plain array stays.
    const Bytes sub = ref::encodeSubChunk(s, false);
    EXPECT_FALSE(ref::parseSubChunk(sub.data() + 3, uint32_t(sub.size() - 3), s.raw_len, false).off16_split);
}

TEST(EncodeBlock, RecordsAndPrefixArea) {
    // Random data is stored; the last chunk is 3 bytes, padded in the area.
    const Bytes input = test::randomBytes(2 * 65536 + 3, 8);
    ref::EncodeOptions enc;
    enc.sc_group_size = 0.25f;
    const auto block = ref::encodeBlock(input, enc);
    ASSERT_EQ(block.record_sizes, (std::vector<uint32_t>{65538, 65538, 5}));
    EXPECT_EQ(block.payload[0], KVN_CHUNK_HDR0_STORED_WRITTEN);
    EXPECT_EQ(block.payload[1], KVN_CHUNK_HDR1_WRITTEN);
    const Bytes area(block.payload.end() - 16, block.payload.end());
    Bytes expect(input.begin() + 65536, input.begin() + 65544);
    expect.insert(expect.end(), input.end() - 3, input.end());
    expect.insert(expect.end(), 5, 0);
    EXPECT_EQ(area, expect);

    // One chunk: no area; a coded chunk's header is 0x55 0x01 and its size word.
    const Bytes text = test::machineText(60000);
    const auto one = ref::encodeBlock(text, enc);
    ASSERT_EQ(one.record_sizes.size(), 1u);
    EXPECT_EQ(one.payload.size(), one.record_sizes[0]);
    EXPECT_EQ(one.payload[0], KVN_CHUNK_HDR0_CODED_WRITTEN);
    const uint32_t word = one.payload[2] | one.payload[3] << 8 | one.payload[4] << 16 | one.payload[5] << 24;
    EXPECT_EQ(word + 1 + 6, one.payload.size());
}

TEST(EncodeBlock, GroupGeometry) {
    struct Case {
        float f;
        uint32_t chunk, per_group;
    };
    const Case cases[] = {{0.25f, 65536, 1}, {0.5f, 131072, 1}, {1.0f, 262144, 2},
                          {4.0f, 262144, 8}, {1.0f / 262144, 1, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(frameChunkSize(c.f), c.chunk) << c.f;
        EXPECT_EQ(ref::subChunksPerGroup(c.f), c.per_group) << c.f;
    }
}

}  // namespace
}  // namespace kvn
