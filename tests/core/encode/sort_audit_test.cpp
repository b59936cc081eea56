// The checks of the sort-parse workspace: keys and candidate tables built
// here the way the pre-passes define them pass; each kind of damage is named
// with the sorted index or position where it first shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/encode/sort_audit.h"

namespace kvn {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes sampleSource(size_t n) {
    Bytes b(n);
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        // Repeats every 50 bytes now and then, so that there are matches.
        b[i] = i >= 50 && (x >> 28) < 12 ? b[i - 50] : uint8_t('a' + (x >> 16) % 4);
    }
    return b;
}

std::vector<uint64_t> sortedKeys(const Bytes& src) {
    std::vector<uint64_t> keys(src.size());
    for (size_t p = 0; p < src.size(); ++p) {
        uint64_t k = 0;
        for (size_t b = 0; b < 6; ++b) k = k << 8 | (p + b < src.size() ? src[p + b] : 0);
        keys[p] = k << 16 | p;
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// The longest earlier match of at most 64 bytes at distance 8 to 64, when
// it has 4 bytes.
std::vector<uint32_t> candidates(const Bytes& src) {
    std::vector<uint32_t> words(src.size(), 0);
    for (size_t i = 8; i < src.size(); ++i) {
        uint32_t best = 0, best_d = 0;
        for (size_t d = 8; d <= std::min<size_t>(i, 64); ++d) {
            uint32_t l = 0;
            while (l < 64 && i + l < src.size() && src[i + l] == src[i - d + l]) ++l;
            if (l > best) best = l, best_d = uint32_t(d);
        }
        if (best >= 4) words[i] = best << 16 | best_d;
    }
    return words;
}

struct KeyCase {
    std::string name;
    std::function<void(std::vector<uint64_t>&, Bytes&)> damage;
    const char* reason;  // null: passes
    uint64_t at;
};

TEST(SortAudit, SortedKeys) {
    using Keys = std::vector<uint64_t>;
    const std::vector<KeyCase> cases = {
        {"as built", [](Keys&, Bytes&) {}, nullptr, 0},
        {"a position past the end", [](Keys& k, Bytes&) { k[5] = (k[5] & ~0xFFFFull) | 3000; }, "pos out of range",
         5},
        {"a position twice", [](Keys& k, Bytes&) { k[7] = k[6]; }, "pos duplicated", 7},
        {"two keys swapped", [](Keys& k, Bytes&) { std::swap(k[10], k[11]); }, "not strictly increasing", 11},
        {"the bytes under a sampled key", [](Keys& k, Bytes& src) { src[k[997] & 0xFFFF] ^= 0x80; },
         "content mismatch", 997},
        {"the bytes under an unsampled key", [](Keys& k, Bytes& src) { src[(k[998] & 0xFFFF) + 5] ^= 0x80; },
         nullptr, 0},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes src = sampleSource(3000);
        Keys keys = sortedKeys(src);
        c.damage(keys, src);
        const auto failure = checkSortedKeys(keys, src);
        if (!c.reason) {
            EXPECT_FALSE(failure.has_value());
            continue;
        }
        ASSERT_TRUE(failure.has_value());
        EXPECT_STREQ(failure->reason, c.reason);
        EXPECT_EQ(failure->at, c.at);
    }
}

TEST(SortAudit, EmptyAndDeviceSourceKeys) {
    EXPECT_FALSE(checkSortedKeys({}, {}).has_value());
    // Without the bytes, only the order and the positions are checked.
    std::vector<uint64_t> keys = sortedKeys(sampleSource(2000));
    keys[0] ^= 1ull << 40;
    EXPECT_FALSE(checkSortedKeys(keys, {}).has_value());
}

struct CandidateCase {
    std::string name;
    std::function<void(std::vector<uint32_t>&)> damage;
    const char* reason;
    uint64_t at;
};

TEST(SortAudit, CandidateTables) {
    const Bytes src = sampleSource(3000);
    const std::vector<uint32_t> good = candidates(src);
    // A position that is a multiple of 31 with a record, for the content check.
    uint64_t sampled = 0;
    for (uint64_t i = 31; i < good.size() && !sampled; i += 31)
        if (good[i] && (good[i] >> 16) < 64 && i + (good[i] >> 16) < src.size()) sampled = i;
    ASSERT_NE(sampled, 0u);
    const std::vector<CandidateCase> cases = {
        {"as found", [](std::vector<uint32_t>&) {}, nullptr, 0},
        {"a distance below 8", [](std::vector<uint32_t>& w) { w[100] = 4u << 16 | 7; }, "off out of range", 100},
        {"a distance past the start", [](std::vector<uint32_t>& w) { w[20] = 4u << 16 | 21; }, "off out of range",
         20},
        {"a length of 3", [](std::vector<uint32_t>& w) { w[100] = 3u << 16 | 9; }, "len out of range", 100},
        {"a length of 65", [](std::vector<uint32_t>& w) { w[100] = 65u << 16 | 9; }, "len out of range", 100},
        {"a length past the end", [](std::vector<uint32_t>& w) { w[2990] = 12u << 16 | 9; }, "len out of range",
         2990},
        {"an overstated length at a sampled position",
         [&](std::vector<uint32_t>& w) { w[sampled] += 1u << 16; },
         "stated length does not match (overstatement)", sampled},
    };
    for (const CandidateCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint32_t> words = good;
        c.damage(words);
        uint64_t records = 0;
        const auto failure = checkCandidates(words, src, records);
        if (!c.reason) {
            EXPECT_FALSE(failure.has_value());
            EXPECT_EQ(records, uint64_t(std::count_if(good.begin(), good.end(), [](uint32_t w) { return w != 0; })));
            continue;
        }
        ASSERT_TRUE(failure.has_value());
        EXPECT_STREQ(failure->reason, c.reason);
        EXPECT_EQ(failure->at, c.at);
    }
}

}  // namespace
}  // namespace kvn
