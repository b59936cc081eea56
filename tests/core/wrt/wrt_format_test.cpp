#include <gtest/gtest.h>

#include <cstring>

#include "core/wrt/wrt_format.h"
#include "wrt_test_text.h"

namespace kvn {
namespace {

using test::Bytes;

Bytes blobBytes(const WrtSectionBlob& blob) { return Bytes(blob.bytes.get(), blob.bytes.get() + blob.size); }

void putU32(Bytes* b, size_t at, uint32_t v) { std::memcpy(b->data() + at, &v, 4); }

TEST(WrtSection, WriterLayoutParsesBack) {
    std::vector<std::string> words = {"and", "the", "function", "abcdefghijklmnopqrstuvwxyzabcdef"};
    std::vector<WrtSegment> segments = {{100, 4096}, {0, 0}, {7, 9}};
    Bytes section = blobBytes(test::sectionOf(8201, words, 2, segments));
    // 20 fixed bytes, the words with their length bytes, 4 bytes per segment.
    ASSERT_EQ(section.size(), 20u + (4 + 4 + 9 + 33) + 12);
    EXPECT_EQ(section[16], 3);
    EXPECT_EQ(std::memcmp(&section[17], "and", 3), 0);

    WrtDecodeState state;
    ASSERT_EQ(parseSection(section.data(), section.size(), &state), Error::None);
    EXPECT_EQ(state.decoded_size, 8201u);
    EXPECT_EQ(state.word_count, 4u);
    EXPECT_EQ(state.one_byte_count, 2u);
    EXPECT_EQ(state.words_size, 50u);
    for (size_t i = 0; i < words.size(); ++i) {
        ASSERT_EQ(state.word_lengths[i], words[i].size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(state.words + state.word_offsets[i]), words[i].size()),
                  words[i]);
    }
    ASSERT_EQ(state.segment_count, 3u);
    EXPECT_EQ(state.segment(0).encoded_length, 100);
    EXPECT_EQ(state.segment(0).decoded_length, 4096);
    EXPECT_EQ(state.segment(2).decoded_length, 9);
    freeWrtDecodeState(&state);
    EXPECT_EQ(state.word_lengths, nullptr);
}

TEST(WrtSection, CandidateWriterMatchesWordWriter) {
    // Candidates in 32-byte slots; the selection picks two of three, in code order.
    uint8_t lengths[3] = {5, 3, 4};
    uint8_t slots[3 * 32] = {};
    std::memcpy(slots + 0, "zebra", 5);
    std::memcpy(slots + 32, "cat", 3);
    std::memcpy(slots + 64, "wolf", 4);
    WrtSelection selection;
    selection.indices.reset(new uint32_t[2]{1, 0});
    selection.word_count = 2;
    selection.one_byte_count = 2;
    std::vector<WrtSegment> segments = {{3, 5}};
    WrtSectionBlob blob;
    ASSERT_EQ(writeWrtSection(5, selection, lengths, slots, segments.data(), 1, &blob), Error::None);
    EXPECT_EQ(blobBytes(blob), blobBytes(test::sectionOf(5, {"cat", "zebra"}, 2, segments)));
}

TEST(WrtSection, EmptyDictionaryIsReadable) {
    Bytes section = blobBytes(test::sectionOf(0, {}, 0, {}));
    ASSERT_EQ(section.size(), 20u);
    WrtDecodeState state;
    EXPECT_EQ(parseSection(section.data(), section.size(), &state), Error::None);
    EXPECT_EQ(state.word_count, 0u);
    EXPECT_EQ(state.segment_count, 0u);
}

TEST(WrtSection, MalformedSectionsAreRefused) {
    const Bytes good = blobBytes(test::sectionOf(10, {"abc", "word"}, 1, {{4, 10}}));  // 20 + 4 + 5 + 4 = 33 bytes
    ASSERT_EQ(good.size(), 33u);
    const struct {
        const char* what;
        void (*damage)(Bytes*);
    } cases[] = {
        {"shorter than the fixed fields", [](Bytes* b) { b->resize(15); }},
        {"too many words", [](Bytes* b) { putU32(b, 8, kWrtMaxWords + 1); }},
        {"one-byte group larger than the dictionary", [](Bytes* b) { putU32(b, 12, 3); }},
        {"word of two letters", [](Bytes* b) { (*b)[16] = 2; }},
        {"word of 33 letters", [](Bytes* b) { (*b)[16] = 33; }},
        {"word entry past the end", [](Bytes* b) { (*b)[20] = 32; }},
        {"no room for the segment count", [](Bytes* b) { b->resize(27); }},
        {"segment count beyond the limit", [](Bytes* b) { putU32(b, 25, kWrtMaxSegments + 1); }},
        {"segment count larger than the records", [](Bytes* b) { putU32(b, 25, 2); }},
        {"one trailing byte", [](Bytes* b) { b->push_back(0); }},
        {"one missing byte", [](Bytes* b) { b->pop_back(); }},
        {"words claimed but none present", [](Bytes* b) {
             b->resize(20);
             putU32(b, 8, 1);
             putU32(b, 12, 0);
         }},
        {"no words and no segment count", [](Bytes* b) {
             b->resize(16);
             putU32(b, 8, 0);
             putU32(b, 12, 0);
         }},
    };
    for (const auto& c : cases) {
        Bytes bad = good;
        c.damage(&bad);
        WrtDecodeState state;
        EXPECT_EQ(parseSection(bad.data(), bad.size(), &state), Error::BadFrame) << c.what;
        EXPECT_EQ(state.word_offsets, nullptr) << c.what;
    }
    WrtDecodeState state;
    EXPECT_EQ(parseSection(good.data(), good.size(), &state), Error::None);
}

TEST(WrtSegments, BoundariesNeverSplitALetterRun) {
    EXPECT_EQ(wrtSegmentCount(100000), 25u);
    EXPECT_EQ(wrtSegmentCount(4096), 1u);
    EXPECT_EQ(wrtSegmentCount(4097), 2u);

    Bytes text(4 * 4096, ' ');
    // A run across 4096 moves the first boundary to its end.
    std::memset(&text[4090], 'x', 20);
    EXPECT_EQ(wrtSegmentStart(text.data(), text.size(), 1), 4110u);
    // A run across 8192 and 12288 leaves segment 2 empty.
    std::memset(&text[8000], 'y', 4400);
    EXPECT_EQ(wrtSegmentStart(text.data(), text.size(), 2), 12400u);
    EXPECT_EQ(wrtSegmentStart(text.data(), text.size(), 3), 12400u);
    // A boundary with a letter at it but none before it stays where it is.
    Bytes touch(2 * 4096, ' ');
    touch[4096] = 'a';
    touch[4097] = 'b';
    EXPECT_EQ(wrtSegmentStart(touch.data(), touch.size(), 1), 4096u);
    // A run that reaches the end of the text moves the boundary to the end.
    Bytes run(5000, 'q');
    EXPECT_EQ(wrtSegmentStart(run.data(), run.size(), 1), 5000u);
}

}  // namespace
}  // namespace kvn
