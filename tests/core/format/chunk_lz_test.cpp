// LZ sequences and sub-chunk records: the edge cases as tables (one record
// per case), then forms of every stream and the refusals of damaged input.
#include <gtest/gtest.h>

#include "chunk_test_data.h"
#include "core/format/chunk_walk.h"
#include "reference/reference_codec.h"

namespace kvn {
namespace {

using Bytes = std::vector<uint8_t>;
using ref::ParsedSubChunk;

constexpr uint8_t kUnwritten = 0xEE;

Bytes text(const char* s) { return Bytes(s, s + strlen(s)); }
Bytes lengthValue(uint32_t v) {
    Bytes out;
    ref::appendLength(out, v);
    return out;
}
Bytes iota(size_t n, uint8_t first) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(first + i);
    return out;
}

struct SequenceCase {
    const char* name;
    ParsedSubChunk streams;
    uint32_t raw_len;
    Bytes history;      // output before the sub-chunk; the sub-chunk starts after it
    Bytes expected;     // the sub-chunk's bytes (kUnwritten where nothing is written)
    Bytes dictionary;
    uint32_t literal_mode = KVN_LITMODE_PLAIN;
};

class LzSequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(LzSequence, Decodes) {
    const auto& c = GetParam();
    Bytes out(c.history);
    out.resize(c.history.size() + c.raw_len, kUnwritten);
    const ref::Dictionary dict{c.dictionary.empty() ? nullptr : c.dictionary.data(),
                               uint32_t(c.dictionary.size())};
    const uint64_t base = c.history.size() - c.streams.prefix_len;
    ref::decodeSequence(c.streams, c.literal_mode, c.raw_len + c.streams.prefix_len, out, base, dict);
    EXPECT_EQ(Bytes(out.begin() + c.history.size(), out.end()), c.expected);
}

Bytes halfGapLiterals() { return iota(65537, 3); }

const SequenceCase kSequences[] = {
    {"Literals7ThenLiterals7AndMatch3",
     {.literals = text("ABCDEFGHIJKLMN"), .tokens = {0x87, 0x1F}, .off16 = {3}},
     17, {}, text("ABCDEFGHIJKLMNLMN")},
    {"Token80KeepsRepeatDistance8",
     {.literals = {}, .tokens = {0x80, 0x98}}, 3, text("abcdefgh"), text("abc")},
    {"RepeatFollowsLastNewDistance",
     {.tokens = {0x20, 0x98}, .off16 = {2}}, 7, text("abcdefgh"), text("ghghghg")},
    {"Token1ShortestLongMatch",
     {.tokens = {0x01}, .off16 = {1}, .lengths = {0}}, 91, text("z"), Bytes(91, 'z')},
    {"Token1EscapedLength",
     {.tokens = {0x01}, .off16 = {1}, .lengths = {0xFE, 0x01, 0x00}}, 349, text("z"), Bytes(349, 'z')},
    {"Token2FromHalfBase",
     {.tokens = {0x02}, .off32_first = {40}, .lengths = {0}}, 29, iota(100, 0), iota(29, 60)},
    {"FarToken3",
     {.tokens = {0x03}, .off32_first = {100}}, 8, iota(100, 0), iota(8, 0)},
    {"OverlapDistance1",
     {.literals = text("Q"), .tokens = {0x81, 0x78, 0xA8}, .off16 = {1}}, 21, {}, Bytes(21, 'Q')},
    {"MissingOff16UsesRepeat",
     {.tokens = {0x20, 0x20, 0x20, 0x20}, .off16 = {8, 4, 2}}, 16, text("abcdefgh"),
     text("abcdabcdcdcdcdcd")},
    {"DictionaryJustBeforeBase",
     {.tokens = {0x20}, .off16 = {4}}, 4, {}, iota(4, 128), iota(32, 100)},
    {"DictionaryTooFarReadsZeros",
     {.tokens = {0x60}, .off16 = {40}}, 12, {}, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 100, 101, 102, 103},
     iota(32, 100)},
    {"NoDictionarySourceBeforeOutputSkipsMatch",
     {.literals = text("Z"), .tokens = {0x20, 0x81}, .off16 = {4}}, 5, {},
     Bytes{kUnwritten, kUnwritten, kUnwritten, kUnwritten, 'Z'}},
    {"LiteralsPastCountSkipped",
     {.literals = text("a"), .tokens = {0x83, 0x81}}, 4, {}, Bytes{'a', kUnwritten, kUnwritten, kUnwritten}},
    {"MatchClippedAtSubChunkEnd",
     {.literals = text("ab"), .tokens = {0x82, 0x20}, .off16 = {2}}, 5, {}, text("ababa")},
    {"FirstHalfGapFilledWithLiterals",
     {.literals = halfGapLiterals(), .tokens = {0x00, 0x81}, .token_split = 1,
      .lengths = lengthValue(65530 - 64)},
     65537, {}, halfGapLiterals()},
    {"DeltaLiteralAddsByteAtRepeatDistance",
     {.prefix_len = 8, .literals = {10, 20}, .tokens = {0x82}}, 2, iota(8, 1), Bytes{11, 22}, {},
     KVN_LITMODE_DELTA},
    {"DeltaLiteralBeforeOutputStartAddsZero",
     {.literals = {5, 6, 7, 8}, .tokens = {0x84}}, 4, {}, Bytes{5, 6, 7, 8}, {}, KVN_LITMODE_DELTA},
};

INSTANTIATE_TEST_SUITE_P(Table, LzSequence, testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

// Entries above 0xBFFFFF take the 4-byte form, which the decoder reads.
TEST(LzOff32, LongFormReachesFarBack) {
    struct Case {
        uint32_t w;
        Bytes bytes;
    };
    const Case cases[] = {{12582911, {0xFF, 0xFF, 0xBF}},
                          {12582912, {0x00, 0x00, 0xC0, 0x00}},
                          {16777216, {0x00, 0x00, 0xC0, 0x01}},
                          {12582912 + 70000, {0x70, 0x11, 0xC1, 0x00}}};
    for (const Case& c : cases) {
        Bytes written;
        ref::appendOff32(written, c.w);
        EXPECT_EQ(written, c.bytes) << c.w;
    }
    const uint32_t w = 12582912 + 70000;
    ref::SubChunkStreams s;
    s.raw_len = 20;
    s.tokens = {0x02};
    s.off32_first = {w};
    s.lengths = {0};
    const Bytes sub = ref::encodeSubChunk(s, false);
    const auto parsed = ref::parseSubChunk(sub.data() + 3, uint32_t(sub.size() - 3), 20, false);
    ASSERT_EQ(parsed.off32_first, std::vector<uint32_t>{w});

    Bytes out(w + 20, 0);
    for (uint32_t i = 0; i < 29; ++i) out[i] = uint8_t(i + 1);
    ref::decodeSequence(parsed, KVN_LITMODE_PLAIN, 20, out, w, {});
    EXPECT_EQ(Bytes(out.begin() + w, out.end()), iota(20, 1));
}

// --- Sub-chunk records -------------------------------------------------------

Bytes be24(uint32_t v) { return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Decodes one coded chunk whose payload is `body` into a buffer of `size`
// bytes at offset `dst` (bytes before it hold `fill`).
Bytes decodeChunk(const Bytes& body, uint32_t size, uint32_t dst = 16) {
    KvnChunkDesc d{};
    d.comp_size = uint32_t(body.size());
    d.decomp_size = size;
    d.dst_off = dst;
    Bytes out(dst + size, kUnwritten);
    ref::decodeChunks(body, std::span(&d, 1), KVN_SUBCHUNK_SIZE, out, {});
    return Bytes(out.begin() + dst, out.end());
}

TEST(SubChunk, StoredWhenPayloadCoversDecodedSize) {
    const Bytes payload = test::randomBytes(70000, 3);
    const Bytes out = decodeChunk(cat({be24(0x800000 | 70000), payload}), 65536);
    EXPECT_EQ(out, Bytes(payload.begin(), payload.begin() + 65536));
}

TEST(SubChunk, TokenSplitIndexOnlyAboveHalfSize) {
    ref::SubChunkStreams s;
    s.tokens = {0x80};
    s.raw_len = 65536;
    const size_t at_half = ref::lzOutput(s).size();
    s.raw_len = 65537;
    EXPECT_EQ(ref::lzOutput(s).size(), at_half + 2);
    EXPECT_EQ(ref::encodeSubChunk(s, false).size(), at_half + 2 + 3);
}

TEST(SubChunk, Off32CountEscape) {
    ref::SubChunkStreams s;
    s.raw_len = 100;
    s.off32_first.assign(5000, 7);
    const Bytes lz = ref::lzOutput(s);
    // 3+3 stream counts, 2 off16 count, then the off32 word 0xFFF000 and u16 5000.
    EXPECT_EQ(Bytes(lz.begin() + 8, lz.begin() + 13), (Bytes{0x00, 0xF0, 0xFF, 0x88, 0x13}));
    const auto parsed = ref::parseSubChunk(lz.data(), uint32_t(lz.size()), 100, false);
    EXPECT_EQ(parsed.off32_first.size(), 5000u);
    EXPECT_TRUE(parsed.off32_second.empty());
}

// C = 16 and N = 2 from the short Huffman example; the token stream that
// follows the 16 coded bytes is found where it is.
TEST(SubChunk, HuffmanHeaderFields) {
    const Bytes body = cat({{0x40, 0x00, 0x04, 0x00, 0x10}, Bytes(16, 0), be24(2), {0x81, 0x82}});
    const auto parsed = ref::parseSubChunk(body.data(), uint32_t(body.size()), 1000, false);
    EXPECT_EQ(parsed.literals.size(), 2u);
    EXPECT_EQ(parsed.tokens, (Bytes{0x81, 0x82}));
    EXPECT_EQ(parsed.huffman_streams, 1u);
}

// Counts beyond the scratch slots are capped: 131072 symbols per stream,
// 65536 per split off16 half, and split entries take the shorter half.
TEST(SubChunk, AnnouncedCountsAreCapped) {
    const Bytes many(200000, 'a');
    Bytes lits;
    ref::appendStream(lits, many.data(), 200000, 1, ref::StreamForm::Huffman);
    const Bytes high(70000, 1), low(100, 2);
    Bytes body = cat({lits, be24(0), {0xFF, 0xFF}});
    ref::appendStream(body, high.data(), 70000, 1, ref::StreamForm::Stored);
    ref::appendStream(body, low.data(), 100, 1, ref::StreamForm::Stored);
    auto parsed = ref::parseSubChunk(body.data(), uint32_t(body.size()), 65536, false);
    EXPECT_EQ(parsed.literals.size(), KVN_STREAM_MAX_SYMBOLS);
    EXPECT_TRUE(parsed.off16_split);
    EXPECT_EQ(parsed.off16.size(), 100u);
    EXPECT_EQ(parsed.off16[0], 0x0102);

    body = cat({be24(0), be24(0), {0xFF, 0xFF}});
    ref::appendStream(body, high.data(), 70000, 1, ref::StreamForm::Huffman);
    ref::appendStream(body, high.data(), 70000, 1, ref::StreamForm::Stored);
    parsed = ref::parseSubChunk(body.data(), uint32_t(body.size()), 65536, false);
    EXPECT_EQ(parsed.off16.size(), KVN_OFF16_MAX_ENTRIES);
}

// Damaged sub-chunk headers end the chunk's decode; the sub-chunks before
// them and other chunks are unaffected.
struct DamagedHeaderCase {
    const char* name;
    uint32_t second_header;  // in place of the second sub-chunk's header
};

class SubChunkDamage : public testing::TestWithParam<DamagedHeaderCase> {};

TEST_P(SubChunkDamage, EndsTheChunk) {
    const Bytes first = test::randomBytes(131072, 5), second = test::randomBytes(100, 6);
    Bytes body = cat({be24(0x800000 | 131072), first, be24(GetParam().second_header), second});
    const Bytes out = decodeChunk(body, 131172);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 131072), first);
    EXPECT_EQ(Bytes(out.begin() + 131072, out.end()), Bytes(100, kUnwritten));
}

INSTANTIATE_TEST_SUITE_P(Table, SubChunkDamage,
                         testing::Values(DamagedHeaderCase{"ValidBitClear", 0x000000 | 100},
                                         DamagedHeaderCase{"LiteralMode2", 0x900000 | 100},
                                         DamagedHeaderCase{"LiteralMode15", 0xF80000 | 100},
                                         DamagedHeaderCase{"PayloadPastChunk", 0x880000 | 101}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every writer form of every stream decodes to the same bytes.
struct FormCase {
    const char* name;
    ref::StreamForm literals, tokens;
    ref::Off16Form off16;
    ref::StreamForm high, low;
};

class SubChunkForms : public testing::TestWithParam<FormCase> {};

TEST_P(SubChunkForms, RoundTrip) {
    const auto& c = GetParam();
    const Bytes input = test::machineText(3000);
    const uint32_t lens[] = {uint32_t(input.size())};
    auto streams = ref::lzEncodeGroup(input.data(), lens, false, {});
    ASSERT_EQ(streams.size(), 1u);
    auto& s = streams[0];
    ASSERT_GE(s.off16.size(), 32u);
    s.literal_form = c.literals;
    s.token_form = c.tokens;
    s.off16_form = c.off16;
    s.off16_high_form = c.high;
    s.off16_low_form = c.low;
    const Bytes sub = ref::encodeSubChunk(s, true);
    const auto parsed = ref::parseSubChunk(sub.data() + 3, uint32_t(sub.size() - 3), s.raw_len, false);
    EXPECT_EQ(parsed.off16_split, c.off16 == ref::Off16Form::Split);
    EXPECT_EQ(decodeChunk(sub, s.raw_len), input);
}

using F = ref::StreamForm;
using O = ref::Off16Form;
INSTANTIATE_TEST_SUITE_P(
    Table, SubChunkForms,
    testing::Values(FormCase{"AllStored", F::Stored, F::Stored, O::Plain, F::Auto, F::Auto},
                    FormCase{"ShortHeaders", F::StoredShort, F::StoredShort, O::Plain, F::Auto, F::Auto},
                    FormCase{"Huffman", F::Huffman, F::Huffman, O::Plain, F::Auto, F::Auto},
                    FormCase{"SplitHuffmanHighStoredLow", F::Stored, F::Huffman, O::Split, F::Huffman, F::Stored},
                    FormCase{"SplitStoredHalves", F::Huffman, F::Stored, O::Split, F::StoredShort, F::Stored},
                    FormCase{"SplitHuffmanHalves", F::Huffman, F::Huffman, O::Split, F::Huffman, F::Huffman}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SubChunkForms, ShortHuffmanHeader) {
    const Bytes data(1000, 'k');
    Bytes stream;
    ref::appendStream(stream, data.data(), 1000, 1, ref::StreamForm::HuffmanShort);
    ASSERT_EQ(stream[0] & 0xF0, 0xC0);
    Bytes body = cat({stream, be24(0)});
    const auto parsed = ref::parseSubChunk(body.data(), uint32_t(body.size()), 5000, false);
    EXPECT_EQ(parsed.literals, data);
}

}  // namespace
}  // namespace kvn

namespace kvn {
namespace {

// With a dictionary, a match in a chunk's second sub-chunk that reaches into
// its first reads the output: only sources before the work item's first chunk
// read the dictionary.
// With a dictionary, every sub-chunk sees the dictionary right before its own
// base: a later sub-chunk's source 4 bytes back reads the dictionary's last
// bytes, not its neighbour's output.
TEST(LzDictionary, LaterSubChunkReadsTheDictionaryBeforeItsBase) {
    const Bytes first = test::randomBytes(131072, 12), dict = test::randomBytes(1000, 13);
    ref::SubChunkStreams second;  // 4 bytes from 4 bytes back, then 60 more at that distance
    second.raw_len = 64;
    second.tokens = {0x20, 0xF8, 0xF8, 0xF8, 0xF8};
    second.off16 = {4};
    const Bytes body = cat({be24(0x800000 | 131072), first, ref::encodeSubChunk(second, false)});
    KvnChunkDesc descs[2] = {};
    descs[0].decomp_size = 16;  // a first chunk, so the coded one is not frame-first
    descs[0].comp_size = 16;
    descs[0].src_off = uint32_t(body.size());
    descs[0].flags = KVN_CHUNK_KIND_STORED;
    descs[1].comp_size = uint32_t(body.size());
    descs[1].decomp_size = 131072 + 64;
    descs[1].dst_off = 16;
    Bytes payload = cat({body, Bytes(16, 0x33)});
    Bytes out(16 + 131072 + 64, kUnwritten);
    ref::decodeChunks(payload, descs, KVN_SUBCHUNK_SIZE, out, {dict.data(), uint32_t(dict.size())});
    Bytes want;
    for (int k = 0; k < 16; ++k) want.insert(want.end(), dict.end() - 4, dict.end());
    EXPECT_EQ(Bytes(out.end() - 64, out.end()), want);
    EXPECT_EQ(Bytes(out.begin() + 16, out.end() - 64), first);
}

// A frame's first sub-chunk shorter than its 8 raw bytes: the copy stops at
// the sub-chunk and its payload (the buffer is exactly the output's size).
TEST(LzFrameFirst, RawBytesClippedToShortSubChunk) {
    ref::SubChunkStreams s;
    s.raw_len = 5;
    s.raw8 = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes sub = ref::encodeSubChunk(s, false);
    KvnChunkDesc d{};
    d.comp_size = uint32_t(sub.size());
    d.decomp_size = 5;
    auto out = std::make_unique<uint8_t[]>(5);
    ref::decodeChunks(sub, std::span(&d, 1), KVN_SUBCHUNK_SIZE, std::span(out.get(), 5), {});
    EXPECT_EQ(Bytes(out.get(), out.get() + 5), (Bytes{1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace kvn
