#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/wrt/word_count.h"
#include "core/wrt/word_selection.h"
#include "wrt_test_text.h"

namespace kvn {
namespace {

// A candidate table as the GPU encoder reads it back: lengths, 32-byte slots, counts.
struct Candidates {
    std::vector<uint8_t> lengths;
    std::vector<uint8_t> slots;
    std::vector<uint32_t> counts;

    void add(const std::string& word, uint32_t count) {
        lengths.push_back(uint8_t(word.size()));
        slots.resize(slots.size() + kWrtMaxWordLength);
        std::memcpy(&slots[slots.size() - kWrtMaxWordLength], word.data(), word.size());
        counts.push_back(count);
    }
    std::string word(uint32_t i) const {
        return std::string(reinterpret_cast<const char*>(&slots[size_t{i} * kWrtMaxWordLength]), lengths[i]);
    }
};

struct Chosen {
    std::vector<std::string> words;  // code order
    uint32_t one_byte_count;
    bool has(const std::string& w) const { return std::find(words.begin(), words.end(), w) != words.end(); }
    size_t codeOf(const std::string& w) const { return std::find(words.begin(), words.end(), w) - words.begin(); }
};

Chosen select(const Candidates& c) {
    WrtSelection selection;
    EXPECT_EQ(selectWrtWordsFromCandidates(c.lengths.data(), c.slots.data(), c.counts.data(),
                                           uint32_t(c.counts.size()), &selection),
              Error::None);
    Chosen chosen{{}, selection.one_byte_count};
    for (uint32_t i = 0; i < selection.word_count; ++i) chosen.words.push_back(c.word(selection.indices[i]));
    return chosen;
}

// `count` strong words ("strong" + three letters) that beat everything else on both gains.
void addStrongWords(Candidates* c, size_t count) {
    for (const std::string& w : test::generatedWords(count)) c->add("strong" + w, 1000);
}

TEST(WrtSelection, OnlyWordsSeenFiveTimes) {
    Candidates c;
    c.add("abcdefghijklmnopqrstuvwxyzabcdef", 4);  // long, but seen 4 times
    c.add("cat", 5);                             // gain1 6, gain2 1
    c.add("dog", 3);
    Chosen chosen = select(c);
    EXPECT_EQ(chosen.words, std::vector<std::string>{"cat"});
    EXPECT_EQ(chosen.one_byte_count, 1u);

    Candidates rare;
    for (const std::string& w : test::generatedWords(500)) rare.add(w, 4);
    EXPECT_TRUE(select(rare).words.empty());
    EXPECT_TRUE(select(Candidates{}).words.empty());
}

TEST(WrtSelection, FortyWordsHaveNoTwoByteGroup) {
    Candidates c;
    addStrongWords(&c, 40);
    Chosen forty = select(c);
    EXPECT_EQ(forty.words.size(), 40u);
    EXPECT_EQ(forty.one_byte_count, 40u);

    c.add("weakest", 5);
    Chosen forty_one = select(c);
    ASSERT_EQ(forty_one.words.size(), 41u);
    EXPECT_EQ(forty_one.one_byte_count, 40u);
    EXPECT_EQ(forty_one.words[40], "weakest");
    // Each group is in byte order.
    EXPECT_TRUE(std::is_sorted(forty_one.words.begin(), forty_one.words.begin() + 40));
}

TEST(WrtSelection, EqualGainsGoByBytes) {
    // abc seen 10 times and abcd seen 7 times both have gain1 16; abd ties abc.
    const struct {
        std::vector<std::pair<std::string, uint32_t>> contenders;
        std::string one_byte;
    } cases[] = {
        {{{"abd", 10}, {"abc", 10}}, "abc"},
        {{{"abcd", 7}, {"abc", 10}}, "abc"},
        {{{"abc", 10}, {"abcd", 7}}, "abc"},
    };
    for (const auto& t : cases) {
        Candidates c;
        addStrongWords(&c, 39);
        for (const auto& [word, count] : t.contenders) c.add(word, count);
        Chosen chosen = select(c);
        ASSERT_EQ(chosen.words.size(), 41u);
        EXPECT_LT(chosen.codeOf(t.one_byte), 40u) << t.one_byte;
    }
}

TEST(WrtSelection, TwoByteGroupByGain2UpTo4096) {
    Candidates c;
    addStrongWords(&c, 40);
    c.add("xyz", 100);         // gain1 196, gain2 96: best of the rest by gain1, worst by gain2
    c.add("longerword", 22);   // gain1 187, gain2 165
    for (const std::string& w : test::generatedWords(4095)) c.add("qq" + w, 40);  // gain1 154, gain2 114
    Chosen chosen = select(c);
    EXPECT_EQ(chosen.words.size(), kWrtMaxWords);
    EXPECT_EQ(chosen.one_byte_count, 40u);
    EXPECT_TRUE(chosen.has("longerword"));
    EXPECT_FALSE(chosen.has("xyz"));
    EXPECT_TRUE(std::is_sorted(chosen.words.begin() + 40, chosen.words.end()));
}

TEST(WrtSelection, WordTableAndCandidatesAgree) {
    const test::Bytes& text = test::realText();
    WordTable table;
    ASSERT_EQ(countTextWords(text.data(), text.size(), 1, &table), Error::None);
    Candidates c;
    for (uint32_t r = 0; r < table.record_count; ++r) {
        const WordRecord& record = table.records[r];
        c.add(std::string(reinterpret_cast<const char*>(table.word(record)), record.length), record.count);
    }
    Chosen from_candidates = select(c);
    ASSERT_GT(from_candidates.words.size(), 1000u);

    WrtDictionary dictionary;
    ASSERT_EQ(selectWrtDictionary(&table, &dictionary), Error::None);
    EXPECT_FALSE(table.live);  // moved into the dictionary
    ASSERT_EQ(dictionary.selection.word_count, from_candidates.words.size());
    EXPECT_EQ(dictionary.selection.one_byte_count, from_candidates.one_byte_count);
    uint32_t coded = 0;
    for (uint32_t i = 0; i < dictionary.selection.word_count; ++i) {
        const WordRecord& record = dictionary.table.records[dictionary.selection.indices[i]];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(dictionary.table.word(record)), record.length),
                  from_candidates.words[i]);
        EXPECT_EQ(record.count, i + 1);  // counts became code numbers
    }
    for (uint32_t r = 0; r < dictionary.table.record_count; ++r) coded += dictionary.table.records[r].count > 0;
    EXPECT_EQ(coded, dictionary.selection.word_count);
}

}  // namespace
}  // namespace kvn
