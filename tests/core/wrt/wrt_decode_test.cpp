#include <gtest/gtest.h>

#include <string>

#include "core/platform/platform.h"
#include "core/wrt/wrt_decode.h"
#include "core/wrt/wrt_encode.h"
#include "wrt_test_text.h"

namespace kvn {
namespace {

using test::Bytes;
using test::bytesOf;

struct Stream {
    std::vector<WrtSegment> segments;
    Bytes input;
    uint64_t decoded_size;  // written to the section
    size_t output_size;     // given to the decoder
};

// One segment of tokens that should decode to `decoded` bytes.
Stream oneSegment(std::string_view tokens, uint16_t decoded) {
    return {{{uint16_t(tokens.size()), decoded}}, bytesOf(tokens), decoded, decoded};
}

Error decodeStream(const Stream& s, Bytes* out, uint32_t threads = 1, uint32_t words = 42) {
    // The first `words` of the token words: "the" is word 5, "two" word 40.
    std::vector<std::string> all = test::codeWords();
    all.resize(words);
    WrtSectionBlob section = test::sectionOf(s.decoded_size, all, std::min<uint32_t>(words, 40), s.segments);
    WrtDecodeState state;
    EXPECT_EQ(parseSection(section.bytes.get(), section.size, &state), Error::None);
    return wrtDecodeCpu(state, s.input.data(), s.input.size(), out->data(), out->size(), threads);
}

TEST(WrtDecode, TokenMeanings) {
    const struct {
        std::string tokens;
        std::string text;
    } cases[] = {
        {"\x04x\x85", "xthe"},                   // a literal consumes the case flag
        {"\x06\x06\x85", "THE"},
        {"\x04\x06\x85", "THE"},                 // the last flag counts
        {"\x06\x03x\x85", "xthe"},               // so does an escape
        {"\x03\xB0\xA8\x80", "\xB0two"},         // escaped pair-lead byte, then word 40
        {"\x04\xA8\x80\x85", "Twothe"},
        {"\x85\x04", "the"},                     // a flag left at the end is dropped
        {std::string("\x00\x7F", 2), std::string("\x00\x7F", 2)},
    };
    for (const auto& c : cases) {
        Stream s = oneSegment(c.tokens, uint16_t(c.text.size()));
        Bytes out(c.text.size());
        EXPECT_EQ(decodeStream(s, &out), Error::None) << c.text;
        EXPECT_EQ(out, bytesOf(c.text));
    }
}

TEST(WrtDecode, DamagedStreamsAreRefusedUntouched) {
    auto segments2 = [](std::string_view a, uint16_t da, std::string_view b, uint16_t db) {
        Stream s{{{uint16_t(a.size()), da}, {uint16_t(b.size()), db}}, bytesOf(std::string(a) + std::string(b)),
                 uint64_t(da) + db, size_t(da) + db};
        return s;
    };
    const struct {
        const char* what;
        Stream stream;
        uint32_t words = 42;
    } cases[] = {
        {"escape as the last byte", oneSegment("ab\x03", 3)},
        {"escape at a segment end", segments2("a\x03", 2, "bc", 2)},
        {"pair lead as the last byte", oneSegment("ab\xA8", 5)},
        {"pair lead at a segment end", segments2("\xA8", 3, "\x80", 0)},
        {"pair lead before a byte below 0x80", oneSegment("\xA8\x01", 3)},
        {"one-byte code beyond the words", oneSegment("\x85", 3), 5},
        {"two-byte code beyond the words", oneSegment("\xA8\x82", 3)},
        {"lead byte above the last code", oneSegment("\xC8\x80", 3)},
        {"word past the decoded length", oneSegment("ab\x85", 4)},
        {"literal past the decoded length", oneSegment("abc", 2)},
        {"escape past the decoded length", oneSegment("ab\x03x", 2)},
        {"segment one byte short", oneSegment("abc", 4)},
        {"segments swap a byte", segments2("abc", 4, "def", 2)},
        {"encoded lengths short of the input",
         Stream{{{2, 2}}, bytesOf("abc"), 2, 2}},
        {"encoded lengths beyond the input",
         Stream{{{4, 3}}, bytesOf("abc"), 3, 3}},
        {"decoded lengths differ from the output",
         Stream{{{3, 3}}, bytesOf("abc"), 3, 4}},
        {"decoded_size differs from the lengths",
         Stream{{{3, 3}}, bytesOf("abc"), 4, 3}},
        {"decoded_size beyond the output",
         Stream{{{3, 3}}, bytesOf("abc"), uint64_t(1) << 40, 3}},
    };
    for (const auto& c : cases) {
        for (uint32_t threads : {1u, 4u}) {
            Bytes out(c.stream.output_size, 0xEE);
            EXPECT_EQ(decodeStream(c.stream, &out, threads, c.words), Error::Corrupt) << c.what;
            EXPECT_EQ(out, Bytes(c.stream.output_size, 0xEE)) << c.what << ": destination written";
        }
    }
}

// The real text, transformed, with its parsed section.
struct WrtDecodeRealText : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(wrtEncodeCpu(text.data(), text.size(), &encoded, 2), Error::None);
        ASSERT_TRUE(encoded.applied);
        ASSERT_EQ(parseSection(encoded.section.bytes.get(), encoded.section.size, &state), Error::None);
    }
    const Bytes& text = test::realText();
    WrtEncodeOutput encoded;
    WrtDecodeState state;
};

TEST_F(WrtDecodeRealText, DamageInALaterRangeLeavesEarlierRangesUnwritten) {
    // Make the last byte of the stream a dangling escape.
    Bytes damaged(encoded.text.get(), encoded.text.get() + encoded.text_size);
    damaged.back() = WRT_ESCAPE;
    Bytes out(text.size(), 0xEE);
    EXPECT_EQ(wrtDecodeCpu(state, damaged.data(), damaged.size(), out.data(), out.size(), 16), Error::Corrupt);
    EXPECT_EQ(out, Bytes(text.size(), 0xEE));
}

TEST(WrtDecode, FewSegmentsManyThreads) {
    Stream s = {{{3, 3}, {0, 0}, {2, 3}}, bytesOf("abc\x06\x85"), 6, 6};
    for (uint32_t threads : {0u, 1u, 2u, 16u, 20u, 200u}) {
        Bytes out(6);
        EXPECT_EQ(decodeStream(s, &out, threads), Error::None) << threads;
        EXPECT_EQ(out, bytesOf("abcTHE")) << threads;
    }
}

TEST_F(WrtDecodeRealText, RangeWhoseThreadCannotStartRunsOnTheCaller) {
    for (int after : {0, 5, 9, 13}) {  // starts 0..6 check the tokens, 7..13 write
        Bytes out(text.size());
        injectThreadStartFailure(after);
        EXPECT_EQ(wrtDecodeCpu(state, encoded.text.get(), encoded.text_size, out.data(), out.size(), 8), Error::None);
        injectThreadStartFailure(-1);
        EXPECT_TRUE(out == text) << after;
    }
}

TEST(WrtDecode, EmptyStream) {
    Stream s = {{}, {}, 0, 0};
    Bytes out;
    EXPECT_EQ(decodeStream(s, &out, 4, 0), Error::None);
}

}  // namespace
}  // namespace kvn
