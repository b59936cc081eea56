// Huffman streams: the decode table entry by entry, the code builder's
// limits, the coded layout, and round trips through the 32 lanes.
#include <gtest/gtest.h>

#include <bit>
#include <random>

#include "kernels/format_constants.h"
#include "reference/reference_codec.h"

namespace kvn {
namespace {

using ref::CodeLengths;

std::array<uint8_t, 128> nibbles(const CodeLengths& lengths) {
    std::array<uint8_t, 128> out{};
    for (int j = 0; j < 128; ++j) out[j] = uint8_t(lengths[2 * j] | lengths[2 * j + 1] << 4);
    return out;
}

uint32_t entry(uint32_t a, uint32_t b, uint32_t bits, uint32_t kind) {
    return a | b << 8 | bits << 16 | kind << 24;
}

TEST(HuffLut, ShortCodesPairUp) {
    CodeLengths l{};
    l[0x41] = 1;
    l[0x42] = l[0x43] = 2;  // codes 0, 10, 11
    EXPECT_EQ(ref::huffCanonicalCodes(l)[0x42], 2u);
    EXPECT_EQ(ref::huffCanonicalCodes(l)[0x43], 3u);
    const auto lut = ref::huffBuildLut(nibbles(l).data());
    EXPECT_EQ(lut[0], entry(0x41, 0x41, 2, KVN_HUFF_LUT_TWO));
    EXPECT_EQ(lut[255], entry(0x41, 0x41, 2, KVN_HUFF_LUT_TWO));
    EXPECT_EQ(lut[256], entry(0x41, 0x42, 3, KVN_HUFF_LUT_TWO));
    EXPECT_EQ(lut[384], entry(0x41, 0x43, 3, KVN_HUFF_LUT_TWO));
    EXPECT_EQ(lut[512], entry(0x42, 0x41, 3, KVN_HUFF_LUT_TWO));
    EXPECT_EQ(lut[640], entry(0x42, 0x42, 4, KVN_HUFF_LUT_TWO));
    EXPECT_EQ(lut[1023], entry(0x43, 0x43, 4, KVN_HUFF_LUT_TWO));
}

TEST(HuffLut, ElevenBitCodesShareASlot) {
    CodeLengths l{};
    for (int s = 0; s < 10; ++s) l[s] = uint8_t(s + 1);
    l[10] = l[11] = 11;  // codes 2046 and 2047
    const auto codes = ref::huffCanonicalCodes(l);
    EXPECT_EQ(codes[10], 2046u);
    EXPECT_EQ(codes[11], 2047u);
    const auto lut = ref::huffBuildLut(nibbles(l).data());
    EXPECT_EQ(lut[1023], entry(10, 11, 11, KVN_HUFF_LUT_LONG));
    EXPECT_EQ(lut[1022], entry(9, 0, 10, KVN_HUFF_LUT_ONE));
    EXPECT_EQ(lut[0], entry(0, 0, 2, KVN_HUFF_LUT_TWO));
}

// Damaged length tables: codes past the code space get no entry (no write
// outside the table), length 12 is numbered but has no entry, 13-15 are ignored.
TEST(HuffLut, DamagedLengthsStayInsideTheTable) {
    CodeLengths all_one;
    all_one.fill(1);
    const auto lut = ref::huffBuildLut(nibbles(all_one).data());
    for (uint32_t e : lut) {
        EXPECT_LT(e & 0xFF, 2u);
        EXPECT_LT(e >> 8 & 0xFF, 2u);
    }
    CodeLengths l{};
    l[1] = 12;
    l[2] = 13;
    l[3] = 1;
    const auto lut2 = ref::huffBuildLut(nibbles(l).data());
    EXPECT_EQ(lut2[0], entry(3, 3, 2, KVN_HUFF_LUT_TWO));
    EXPECT_EQ(lut2[512], 0u);  // symbol 1's 12-bit code 1000... has no entry
}

TEST(HuffEncode, OneSymbolCodesWithOneBit) {
    const std::vector<uint8_t> data(33, 'x');  // lane 31 holds two symbols, the rest one
    const auto lengths = ref::huffCodeLengths(data.data(), 33, 1);
    EXPECT_EQ(lengths['x'], 1);
    const auto coded = ref::huffEncode(data.data(), 33, 1);
    std::vector<uint8_t> out(33, 0);
    ref::huffDecode(coded.data(), uint32_t(coded.size()), 33, out.data());
    EXPECT_EQ(out, data);
}

TEST(HuffEncode, ThirtyOneSymbolsAllInTheLastLane) {
    std::vector<uint8_t> data(31);
    for (int i = 0; i < 31; ++i) data[i] = uint8_t(i % 5);
    const auto coded = ref::huffEncode(data.data(), 31, 1);
    EXPECT_EQ(coded[KVN_HUFF_MIN_LANE_OFF] | coded[129] << 8 | coded[130] << 16, 0);  // m = 0
    // Lane 31's byte count is its delta; every other lane's delta is 0.
    const auto lengths = ref::huffCodeLengths(data.data(), 31, 1);
    uint32_t lane31_bits = 0;
    for (uint8_t b : data) lane31_bits += lengths[b];
    const uint32_t lane31 = (lane31_bits + 7) / 8;
    const uint32_t width = coded[KVN_HUFF_DELTA_WIDTH_OFF];
    ASSERT_EQ(width, uint32_t(std::bit_width(lane31)));
    auto delta = [&](uint32_t lane) {
        uint32_t v = 0;
        for (uint32_t b = 0; b < width; ++b) {
            const uint32_t bit = lane * width + b;
            v |= (coded[KVN_HUFF_DELTAS_OFF + bit / 8] >> (bit % 8) & 1u) << b;
        }
        return v;
    };
    EXPECT_EQ(delta(31), lane31);
    for (uint32_t lane = 0; lane < 31; ++lane) EXPECT_EQ(delta(lane), 0u);
    const uint32_t rows_off = KVN_HUFF_DELTAS_OFF + 4 * width;
    EXPECT_EQ(coded[rows_off], 0);  // R = 0: lane 31 lies wholly in the tails
    EXPECT_EQ(coded.size(), rows_off + 4 + (lane31 + 3) / 4 * 4);
    std::vector<uint8_t> out(31);
    ref::huffDecode(coded.data(), uint32_t(coded.size()), 31, out.data());
    EXPECT_EQ(out, data);
}

TEST(HuffEncode, EqualLanesNeedNoDeltas) {
    const std::vector<uint8_t> data(32 * 64, 7);
    const auto coded = ref::huffEncode(data.data(), uint32_t(data.size()), 1);
    EXPECT_EQ(coded[KVN_HUFF_DELTA_WIDTH_OFF], 0);
    EXPECT_EQ(coded[KVN_HUFF_DELTAS_OFF], 2);  // R = 2 words right at offset 132
    EXPECT_EQ(coded.size(), KVN_HUFF_FIXED_BYTES + 2 * KVN_HUFF_ROW_BYTES);
}

// Fibonacci counts make a Huffman tree far deeper than 11.
TEST(HuffEncode, LengthsCappedAtElevenWithAValidCode) {
    std::vector<uint8_t> data;
    uint64_t a = 1, b = 1;
    for (int s = 0; s < 26; ++s) {
        data.insert(data.end(), a, uint8_t(s));
        const uint64_t c = a + b;
        a = b;
        b = c;
    }
    const auto lengths = ref::huffCodeLengths(data.data(), uint32_t(data.size()), 1);
    uint64_t kraft = 0;
    uint32_t longest = 0;
    for (uint8_t l : lengths)
        if (l) {
            kraft += uint64_t(1) << (30 - l);
            longest = std::max<uint32_t>(longest, l);
        }
    EXPECT_EQ(longest, KVN_HUFF_MAX_CODE_LEN);
    EXPECT_LE(kraft, uint64_t(1) << 30);
    const auto coded = ref::huffEncode(data.data(), uint32_t(data.size()), 1);
    std::vector<uint8_t> out(data.size());
    ref::huffDecode(coded.data(), uint32_t(coded.size()), uint32_t(out.size()), out.data());
    EXPECT_EQ(out, data);
}

struct HuffRoundTripCase {
    uint32_t count;
    uint32_t alphabet;  // symbols drawn from 0..alphabet-1, skewed
    uint32_t stride;
};

class HuffRoundTrip : public testing::TestWithParam<HuffRoundTripCase> {};

TEST_P(HuffRoundTrip, DecodesWhatWasEncoded) {
    const auto& c = GetParam();
    std::mt19937 rng(c.count * 31 + c.alphabet);
    std::vector<uint8_t> data(uint64_t(c.count) * c.stride);
    for (auto& b : data) {
        const uint32_t r = rng() % c.alphabet;
        b = uint8_t(r * r / c.alphabet);
    }
    const auto coded = ref::huffEncode(data.data(), c.count, c.stride);
    ASSERT_LE(coded.size(), (2ull * c.count + KVN_HUFF_CAPACITY_SLACK) & ~3ull);
    std::vector<uint8_t> out(c.count);
    ref::huffDecode(coded.data(), uint32_t(coded.size()), c.count, out.data());
    for (uint32_t i = 0; i < c.count; ++i) ASSERT_EQ(out[i], data[uint64_t(i) * c.stride]) << i;
}

INSTANTIATE_TEST_SUITE_P(Table, HuffRoundTrip,
                         testing::Values(HuffRoundTripCase{1, 2, 1}, HuffRoundTripCase{2, 256, 1},
                                         HuffRoundTripCase{31, 3, 1}, HuffRoundTripCase{32, 256, 1},
                                         HuffRoundTripCase{33, 17, 2}, HuffRoundTripCase{1000, 256, 1},
                                         HuffRoundTripCase{65536, 256, 2},
                                         HuffRoundTripCase{131072, 256, 1},
                                         HuffRoundTripCase{131072, 2, 1}));

// A lane that reads past its words decodes zero bits; a truncated stream
// never reads past its end.
TEST(HuffDecode, TruncatedStreamStaysInBounds) {
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 % 13);
    const auto coded = ref::huffEncode(data.data(), 5000, 1);
    for (uint32_t cut : {0u, 100u, 131u, 200u, uint32_t(coded.size() / 2), uint32_t(coded.size())}) {
        // An exact-size copy lets the sanitizer build catch any read past the end.
        std::vector<uint8_t> shortened(coded.begin(), coded.begin() + cut);
        std::vector<uint8_t> out(5000, 0xEE);
        ref::huffDecode(shortened.data(), cut, 5000, out.data());
        if (cut == coded.size()) EXPECT_EQ(out, data);
    }
}

}  // namespace
}  // namespace kvn
