#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "core/platform/platform.h"
#include "core/wrt/word_count.h"
#include "core/wrt/wrt_decode.h"
#include "core/wrt/wrt_encode.h"
#include "core/wrt/wrt_workers.h"
#include "wrt_test_text.h"

namespace kvn {
namespace {

using test::Bytes;

Bytes repeatedText(size_t size) {
    const std::string phrase = "the quick brown fox jumps over the lazy dog. ";
    Bytes text(size);
    for (size_t i = 0; i < size; ++i) text[i] = uint8_t(phrase[i % phrase.size()]);
    return text;
}

// Words of every case form, digits, punctuation and a share of bytes that
// must be escaped, from a fixed seed.
Bytes syntheticText(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    const auto vocabulary = test::generatedWords(3000);
    Bytes text;
    text.reserve(size + 64);
    while (text.size() < size) {
        uint32_t pick = rng() % 100;
        if (pick < 80) {
            std::string w = vocabulary[std::min<uint32_t>(rng() % 3000, rng() % 3000)];
            if (pick < 8) w[0] = char(w[0] - 32);
            else if (pick < 12) for (char& ch : w) ch = char(ch - 32);
            else if (pick < 14) w[1] = char(w[1] - 32);
            text.insert(text.end(), w.begin(), w.end());
            text.push_back(rng() % 8 ? ' ' : '\n');
        } else if (pick < 90) {
            text.push_back(uint8_t(rng()));  // any byte, escaped or not
        } else {
            std::string digits = std::to_string(rng() % 100000) + ", ";
            text.insert(text.end(), digits.begin(), digits.end());
        }
    }
    text.resize(size);
    return text;
}

struct Encoded {
    Bytes text;
    Bytes section;
};

Encoded encode(const Bytes& input, uint32_t processors, bool* applied) {
    WrtEncodeOutput out;
    EXPECT_EQ(wrtEncodeCpu(input.data(), input.size(), &out, processors), Error::None);
    *applied = out.applied;
    if (!out.applied) return {};
    return {Bytes(out.text.get(), out.text.get() + out.text_size),
            Bytes(out.section.bytes.get(), out.section.bytes.get() + out.section.size)};
}

Bytes decode(const Encoded& encoded, size_t size, uint32_t threads) {
    WrtDecodeState state;
    EXPECT_EQ(parseSection(encoded.section.data(), encoded.section.size(), &state), Error::None);
    Bytes out(size);
    EXPECT_EQ(wrtDecodeCpu(state, encoded.text.data(), encoded.text.size(), out.data(), out.size(), threads),
              Error::None);
    return out;
}

// Encodes at 1, 2 and 20 processors: same section and stream every time,
// decoded exactly at 1, 2 and 20 threads.
void expectExactAtEveryWorkerCount(const Bytes& input) {
    bool applied = false;
    const Encoded reference = encode(input, 1, &applied);
    ASSERT_TRUE(applied);
    EXPECT_LT(reference.text.size() + reference.section.size(), input.size());
    for (uint32_t processors : {2u, 20u}) {
        bool again = false;
        Encoded other = encode(input, processors, &again);
        ASSERT_TRUE(again) << processors;
        EXPECT_TRUE(other.text == reference.text) << processors << " processors";
        EXPECT_TRUE(other.section == reference.section) << processors << " processors";
    }
    for (uint32_t threads : {1u, 2u, 20u}) EXPECT_TRUE(decode(reference, input.size(), threads) == input) << threads;
}

TEST(WrtEncode, RealTextIsExactAtEveryWorkerCount) {
    const Bytes& text = test::realText();
    ASSERT_GE(text.size(), size_t{2} << 20) << "too little text on this machine";
    expectExactAtEveryWorkerCount(text);
}

TEST(WrtEncode, SyntheticTextIsExactAtEveryWorkerCount) {
    expectExactAtEveryWorkerCount(syntheticText(3 << 20, 7));
    expectExactAtEveryWorkerCount(syntheticText(200000, 8));  // below the parallel-count size
}

TEST(WrtEncode, SmallInputsAreLeftPlain) {
    bool applied = true;
    encode(repeatedText(kWrtMinInput - 1), 4, &applied);
    EXPECT_FALSE(applied);
    Bytes text = repeatedText(kWrtMinInput);
    Encoded encoded = encode(text, 4, &applied);
    ASSERT_TRUE(applied);
    EXPECT_EQ(decode(encoded, text.size(), 4), text);
}

TEST(WrtEncode, TextsThatDoNotPayAreLeftPlain) {
    const struct {
        const char* what;
        Bytes text;
    } cases[] = {
        {"no word seen five times", [] {
             Bytes t;
             for (const std::string& w : test::generatedWords(17576))
                 for (int i = 0; i < 4 && t.size() < 100000; ++i) t.insert(t.end(), w.begin(), w.end()), t.push_back(' ');
             return t;
         }()},
        {"a letter run longer than a segment record", [] {
             Bytes t = repeatedText(30000);
             t.resize(100000, 'x');
             return t;
         }()},
        {"escapes outweigh the words", [] {
             Bytes t(100000, 0xE9);
             for (size_t i = 0; i < t.size(); i += 500) std::memcpy(&t[i], "the ", 4);
             return t;
         }()},
    };
    for (const auto& c : cases) {
        bool applied = true;
        encode(c.text, 4, &applied);
        EXPECT_FALSE(applied) << c.what;
    }
}

TEST(WrtEncode, MixedCaseCountsButStaysVerbatim) {
    Bytes text;
    while (text.size() < 100000) for (char ch : std::string("iPhone and more words. ")) text.push_back(uint8_t(ch));
    bool applied = false;
    Encoded encoded = encode(text, 1, &applied);
    ASSERT_TRUE(applied);
    const std::string section(encoded.section.begin(), encoded.section.end());
    const std::string stream(encoded.text.begin(), encoded.text.end());
    EXPECT_NE(section.find("\x06iphone"), std::string::npos);
    EXPECT_NE(stream.find("iPhone"), std::string::npos);
    EXPECT_EQ(decode(encoded, text.size(), 1), text);
}

TEST(WrtCount, RangesEndAtWordEnds) {
    EXPECT_EQ(wrtWorkerCount(20), 16u);
    EXPECT_EQ(wrtWorkerCount(2), 2u);
    EXPECT_EQ(wrtWorkerCount(0), 1u);

    // 2 MiB split 16 ways; a word straddles the third nominal start.
    Bytes text(size_t{2} << 20, ' ');
    const size_t third = text.size() * 3 / 16;
    std::memcpy(&text[third - 3], "straddle", 8);
    size_t starts[17];
    wrtCountRangeStarts(text.data(), text.size(), 16, starts);
    EXPECT_EQ(starts[0], 0u);
    EXPECT_EQ(starts[2], text.size() * 2 / 16);
    EXPECT_EQ(starts[3], third + 5);
    EXPECT_EQ(starts[16], text.size());

    // Counted once, whatever the number of ranges.
    for (uint32_t processors : {1u, 20u}) {
        WordTable table;
        ASSERT_EQ(countTextWords(text.data(), text.size(), processors, &table), Error::None);
        ASSERT_EQ(table.record_count, 1u) << processors;
        EXPECT_EQ(table.records[0].count, 1u) << processors;
    }

    // A run longer than a range pushes the next starts along with it.
    Bytes runs(size_t{2} << 20, 'a');
    runs[100] = ' ';
    wrtCountRangeStarts(runs.data(), runs.size(), 16, starts);
    for (int i = 1; i <= 16; ++i) EXPECT_EQ(starts[i], runs.size()) << i;
}

TEST(WrtCount, ParallelCountsMatchOneTable) {
    const Bytes text = syntheticText(3 << 20, 11);
    WordTable one, many;
    ASSERT_EQ(countTextWords(text.data(), text.size(), 1, &one), Error::None);
    ASSERT_EQ(countTextWords(text.data(), text.size(), 20, &many), Error::None);
    ASSERT_EQ(one.record_count, many.record_count);
    for (uint32_t r = 0; r < one.record_count; ++r) {
        const WordRecord& record = one.records[r];
        int64_t found = wordTableFind(many, one.word(record), record.length);
        ASSERT_GE(found, 0);
        EXPECT_EQ(many.records[found].count, record.count);
    }
}

TEST(WrtEncode, ThreadThatCannotStartLeavesTheFramePlain) {
    // With 4 processors and 2 MiB: 3 counting threads (starts 0..2), one merge
    // thread in the first pass (start 3), then 3 segment threads (starts 4..6).
    const Bytes text = syntheticText(2 << 20, 3);
    bool applied = false;
    const Encoded reference = encode(text, 4, &applied);
    ASSERT_TRUE(applied);
    for (int after : {0, 2, 3, 4, 6}) {
        injectThreadStartFailure(after);
        bool applied_now = true;
        encode(text, 4, &applied_now);
        injectThreadStartFailure(-1);
        EXPECT_FALSE(applied_now) << "start " << after << " failed";
    }
    Encoded again = encode(text, 4, &applied);
    ASSERT_TRUE(applied);
    EXPECT_TRUE(again.text == reference.text && again.section == reference.section);
}

}  // namespace
}  // namespace kvn
