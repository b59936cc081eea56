#include <gtest/gtest.h>

#include <vector>

#include "core/encode/dictionary_table.h"
#include <cstring>
#include <string>

#include "reference/reference_codec.h"

namespace kvn {
namespace {

TEST(DictionaryTable, ShortDictionaryLeavesEveryEntryEmpty) {
    const uint8_t seven[7] = {1, 2, 3, 4, 5, 6, 7};
    const std::vector<uint32_t> table = buildDictionaryTable(seven, sizeof seven, 14);
    ASSERT_EQ(table.size(), 1u << 14);
    for (uint32_t e : table) ASSERT_EQ(e, kEmptyTableEntry);
}

TEST(DictionaryTable, KeepsTheLastPositionOfEachHashOverSixBytes) {
    // "abcdefXY abcdefZW": positions 0 and 9 share their first six bytes, so
    // they share a hash, and the later one stays.
    const std::string text = "abcdefXY abcdefZW........";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const std::vector<uint32_t> table = buildDictionaryTable(bytes, text.size(), 16);
    uint64_t v;
    std::memcpy(&v, bytes, 8);
    EXPECT_EQ(table[lzHash(v, 16)], 9u);
    size_t filled = 0;
    for (uint32_t e : table) filled += e != kEmptyTableEntry;
    EXPECT_LE(filled, text.size() - 7);
    EXPECT_GT(filled, 0u);
}

TEST(DictionaryTable, HashIsTheKernelsHashOfSixBytes) {
    const uint64_t six = 0x0000665544332211ull;
    for (uint32_t bits : {14u, 15u, 16u, 17u})
        EXPECT_EQ(lzHash(six | 0xABCD000000000000ull, bits), ref::lzHash(six, bits)) << bits;
}

}  // namespace
}  // namespace kvn
