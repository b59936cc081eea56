#include <gtest/gtest.h>

#include <string>

#include "core/wrt/wrt_decode.h"
#include "core/wrt/wrt_encode.h"
#include "wrt_test_text.h"

namespace kvn {
namespace {

using test::Bytes;
using test::bytesOf;

Bytes encodeOneSegment(const WrtDictionary& dictionary, const Bytes& text, WrtSegment* segment) {
    Bytes area(kWrtSegmentArea);
    EXPECT_EQ(wrtEncodeSegment(dictionary, text.data(), text.size(), 0, area.data(), segment), Error::None);
    area.resize(segment->encoded_length);
    return area;
}

TEST(WrtTokens, TokenTable) {
    const std::vector<std::string> words = test::codeWords();
    ASSERT_EQ(words.size(), kWrtMaxWords);
    const WrtDictionary dictionary = test::dictionaryOf(words, kWrtOneByteWords);
    const std::string run33(33, 'a'), run32 = "abc" + std::string(29, 'q');
    const struct {
        std::string text;
        std::string tokens;
    } cases[] = {
        {"abc1def", "\x80" "1" "\x81"},
        {"a ab abcd", "a ab abcd"},           // runs of 1 and 2 letters, a word not chosen
        {run33, run33},                        // longer than a word
        {run32, run32},                        // a word, but not chosen
        {"abc\xC3\xA9" "def", "\x80\x03\xC3\x03\xA9\x81"},  // UTF-8 splits runs and is escaped
        {"the The THE tHe thE", "\x85 \x04\x85 \x06\x85 tHe thE"},
        {"two Two TWO", "\xA8\x80 Two TWO"},   // a 3-byte token never replaces 3 letters
        {"last Last LAST", "\xC7\xFF \x04\xC7\xFF \x06\xC7\xFF"},
        {"iPhone IPHONE Iphone", "iPhone \x06\x82 \x04\x82"},  // mixed case stays verbatim
        {"the's the_the the1", "\x85's \x85_\x85 \x85" "1"},
        {std::string("\x03\x04\x06\x80\xFF", 5), std::string("\x03\x03\x03\x04\x03\x06\x03\x80\x03\xFF", 10)},
        {std::string("\x00\x01\x02\x05\x07\x7F", 6), std::string("\x00\x01\x02\x05\x07\x7F", 6)},
    };
    for (const auto& c : cases) {
        const Bytes text = bytesOf(c.text);
        WrtSegment segment;
        const Bytes tokens = encodeOneSegment(dictionary, text, &segment);
        EXPECT_EQ(tokens, bytesOf(c.tokens)) << c.text;
        EXPECT_EQ(segment.decoded_length, text.size()) << c.text;

        // And back, through a section that carries the same words.
        WrtSectionBlob section = test::sectionOf(text.size(), words, kWrtOneByteWords, {segment});
        WrtDecodeState state;
        ASSERT_EQ(parseSection(section.bytes.get(), section.size, &state), Error::None);
        Bytes decoded(text.size());
        EXPECT_EQ(wrtDecodeCpu(state, tokens.data(), tokens.size(), decoded.data(), decoded.size(), 1), Error::None);
        EXPECT_EQ(decoded, text) << c.text;
    }
}

TEST(WrtTokens, SegmentAreaLimits) {
    const WrtDictionary dictionary = test::dictionaryOf({"the"}, 1);
    WrtSegment segment;
    Bytes area(kWrtSegmentArea);
    // A verbatim run may fill the area exactly, one letter more overflows.
    Bytes run(kWrtSegmentArea, 'x');
    EXPECT_EQ(wrtEncodeSegment(dictionary, run.data(), run.size(), 0, area.data(), &segment), Error::None);
    EXPECT_EQ(segment.encoded_length, kWrtSegmentArea);
    run.push_back('x');
    EXPECT_EQ(wrtEncodeSegment(dictionary, run.data(), run.size(), 0, area.data(), &segment), Error::ShardOverflow);
    // Escaped bytes double: a full segment of them fits in 8192 bytes.
    Bytes high(WRT_SEGMENT_SIZE, 0xFF);
    EXPECT_EQ(wrtEncodeSegment(dictionary, high.data(), high.size(), 0, area.data(), &segment), Error::None);
    EXPECT_EQ(segment.encoded_length, 2 * WRT_SEGMENT_SIZE);
}

TEST(WrtTokens, SegmentsAreTransformedOnTheirOwn) {
    // "the" crosses offset 4096: the boundary moves past it, so segment 0 ends
    // with the whole word and segment 1 starts with a space.
    const WrtDictionary dictionary = test::dictionaryOf({"the"}, 1);
    Bytes text(8192, ' ');
    text[4095] = 't', text[4096] = 'h', text[4097] = 'e';
    Bytes area(kWrtSegmentArea);
    WrtSegment first, second;
    ASSERT_EQ(wrtEncodeSegment(dictionary, text.data(), text.size(), 0, area.data(), &first), Error::None);
    EXPECT_EQ(first.decoded_length, 4098);
    EXPECT_EQ(first.encoded_length, 4096);
    EXPECT_EQ(area[4095], 0x80);
    ASSERT_EQ(wrtEncodeSegment(dictionary, text.data(), text.size(), 1, area.data(), &second), Error::None);
    EXPECT_EQ(second.decoded_length, 8192 - 4098);
}

}  // namespace
}  // namespace kvn
