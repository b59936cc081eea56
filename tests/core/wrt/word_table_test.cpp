#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/wrt/word_table.h"

namespace kvn {
namespace {

// The i-th five-letter word: "aaaaa", "aaaab", ...
std::string fiveLetters(uint32_t i) {
    std::string w(5, 'a');
    for (int j = 4; j >= 0; --j, i /= 26) w[j] = char('a' + i % 26);
    return w;
}

Error insert(WordTable* table, const std::string& w, uint32_t* index) {
    return wordTableInsert(table, reinterpret_cast<const uint8_t*>(w.data()), uint32_t(w.size()), index);
}

TEST(WordTable, GrowsToTheRecordLimitThenStaysFull) {
    WordTable table;
    ASSERT_EQ(wordTableInit(&table), Error::None);
    uint32_t index = 0;
    for (uint32_t i = 0; i < kWordTableMaxRecords; ++i) {
        ASSERT_EQ(insert(&table, fiveLetters(i), &index), Error::None) << i;
        ASSERT_EQ(index, i);
    }
    EXPECT_EQ(table.slot_mask + 1, kWordTableMaxSlots);  // half full at the limit
    EXPECT_EQ(insert(&table, fiveLetters(kWordTableMaxRecords), &index), Error::DictFull);
    // Words already held are still found, before and after every doubling.
    for (uint32_t i : {0u, 1u, 0x7FFFu, 0x8000u, 0x123456u, kWordTableMaxRecords - 1}) {
        ASSERT_EQ(insert(&table, fiveLetters(i), &index), Error::None);
        EXPECT_EQ(index, i);
        std::string w = fiveLetters(i);
        EXPECT_EQ(wordTableFind(table, reinterpret_cast<const uint8_t*>(w.data()), 5), int64_t{i});
    }
    EXPECT_EQ(wordTableFind(table, reinterpret_cast<const uint8_t*>("zzzzzz"), 6), -1);
}

TEST(WordTable, CountsWordsThatStartInTheRange) {
    const std::string text = "Alpha beta ALPHA bet betamax 12abc x_yz it's, Beta";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    WordTable table;
    ASSERT_EQ(wordTableInit(&table), Error::None);
    // [2, 13): "pha" is the tail of a run started before the range; "ALPHA" runs past its end.
    ASSERT_EQ(countWords(&table, bytes, text.size(), 2, 13), Error::None);
    ASSERT_EQ(table.record_count, 2u);
    EXPECT_EQ(wordTableFind(table, reinterpret_cast<const uint8_t*>("beta"), 4), 0);
    EXPECT_EQ(table.records[1].count, 1u);  // "alpha", from ALPHA
    ASSERT_EQ(countWords(&table, bytes, text.size(), 0, text.size()), Error::None);
    auto countOf = [&](const char* w) {
        int64_t r = wordTableFind(table, reinterpret_cast<const uint8_t*>(w), uint32_t(std::strlen(w)));
        return r < 0 ? 0u : table.records[r].count;
    };
    EXPECT_EQ(countOf("alpha"), 3u);
    EXPECT_EQ(countOf("beta"), 3u);
    EXPECT_EQ(countOf("bet"), 1u);
    EXPECT_EQ(countOf("betamax"), 1u);
    EXPECT_EQ(countOf("abc"), 1u);  // digits end a word
    EXPECT_EQ(countOf("yz"), 0u);   // two letters are no word
    EXPECT_EQ(countOf("it"), 0u);
}

}  // namespace
}  // namespace kvn
