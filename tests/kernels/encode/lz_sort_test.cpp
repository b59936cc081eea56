// The sort-parse pre-pass: the keys come out in the order of a stable host
// sort of the positions by their first six bytes, and every candidate the
// discovery leaves is a real earlier match at an allowed distance.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>

#include "core/format/chunk_test_data.h"
#include "kernels/lz_sort_layout.h"
#include "sort_rig.h"

namespace kvn::test {
namespace {

constexpr KernelBackend kBackends[] = {KernelBackend::Host, KernelBackend::Lavapipe};

// One block of random bytes repeated: every later position repeats the
// position one period back.
std::vector<uint8_t> periodic(size_t n, size_t period, uint32_t seed) {
    const std::vector<uint8_t> block = randomBytes(period, seed);
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = block[i % period];
    return out;
}

// Two symbols in random order: many equal six-byte prefixes far apart.
std::vector<uint8_t> twoSymbols(size_t n) {
    std::vector<uint8_t> out = randomBytes(n, 21);
    for (uint8_t& b : out) b = 'a' + (b & 1);
    return out;
}

struct SortCase {
    const char* name;
    std::function<std::vector<uint8_t>()> input;
    std::vector<uint32_t> lengths;  // sub-chunks, back to back
    uint32_t floor = 8;
};

const SortCase kCases[] = {
    {"OneByte", [] { return std::vector<uint8_t>{'x'}; }, {1}},
    {"SevenBytes", [] { return machineText(7); }, {7}},
    {"Text", [] { return machineText(5000); }, {5000}},
    {"Zeros", [] { return std::vector<uint8_t>(3000, 0); }, {3000}},
    {"ZerosFloor16", [] { return std::vector<uint8_t>(3000, 0); }, {3000}, 16},
    {"Periodic1000", [] { return periodic(9000, 1000, 5); }, {9000}},
    {"TwoSymbols", [] { return twoSymbols(20000); }, {20000}},
    {"TextFloor300", [] { return machineText(12000); }, {12000}, 300},
    {"RandomBytes", [] { return randomBytes(4000, 9); }, {4000}},
    {"SeveralSubChunks", [] { return machineText(9000); }, {4000, 0, 3000, 2000}},
    {"FullSubChunk", [] { return machineText(65536); }, {65536}},
    // Every neighbour shares 64 bytes or long prefixes: the longest scans.
    {"FullZeros", [] { return std::vector<uint8_t>(65536, 0); }, {65536}},
    {"FullTwoSymbols", [] { return twoSymbols(65536); }, {65536}},
};

uint64_t prefix6(std::span<const uint8_t> sub, uint32_t p) {
    uint64_t v = 0;
    for (uint32_t k = 0; k < 6; ++k) v = v << 8 | (p + k < sub.size() ? sub[p + k] : 0);
    return v;
}

uint32_t commonLength(std::span<const uint8_t> sub, uint32_t p, uint32_t q) {
    uint32_t len = 0;
    while (p + len < sub.size() && sub[p + len] == sub[q + len]) ++len;
    return len;
}

// Positions sorted by their six-byte prefix, ties by position.
std::vector<uint32_t> hostOrder(std::span<const uint8_t> sub) {
    std::vector<uint32_t> order(sub.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return prefix6(sub, a) < prefix6(sub, b); });
    return order;
}

void expectRealCandidate(std::span<const uint8_t> sub, uint32_t p, uint32_t word, uint32_t floor) {
    if (word == 0) return;
    const uint32_t len = word >> 16, dist = word & 0xFFFF;
    ASSERT_GE(len, KVN_SORT_MIN_MATCH) << "position " << p;
    ASSERT_LE(len, KVN_SORT_MAX_CAND_LEN) << "position " << p;
    ASSERT_LE(dist, p) << "position " << p;
    if (dist == 8) ASSERT_LE(floor, 8u) << "position " << p;
    else ASSERT_GE(dist, std::max(floor, 9u)) << "position " << p;
    ASSERT_LE(len, commonLength(sub, p, p - dist)) << "position " << p << " distance " << dist;
}

TEST(LzSort, KeysSortLikeAStableHostSortAndCandidatesAreRealMatches) {
    for (const SortCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> input = c.input();
        const std::vector<CompressChunkDesc> descs = sortParseDescs(c.lengths);
        for (KernelBackend backend : kBackends) {
            SCOPED_TRACE(backendName(backend));
            KernelRig rig(backend);
            const SortRun run = runSortPrepass(rig, input, descs, c.floor);
            ASSERT_EQ(run.fault, "");
            for (size_t s = 0; s < descs.size(); ++s) {
                SCOPED_TRACE(s);
                const std::span<const uint8_t> sub(input.data() + descs[s].src_off, descs[s].len);
                const uint32_t* region = run.work.data() + s * KVN_SORT_REGION_WORDS;
                if (sub.empty()) {  // skipped: the region stays as it was
                    EXPECT_EQ(region[KVN_SORT_CAND_WORD], 0xA5A5A5A5u);
                    EXPECT_EQ(region[KVN_SORT_KEYS_WORD], 0xA5A5A5A5u);
                    continue;
                }
                const std::vector<uint32_t> want = hostOrder(sub);
                for (uint32_t i = 0; i < sub.size(); ++i) {
                    const uint32_t low = region[KVN_SORT_KEYS_WORD + 2 * i];
                    const uint32_t high = region[KVN_SORT_KEYS_WORD + 2 * i + 1];
                    ASSERT_EQ(low & 0xFFFF, want[i]) << "sorted index " << i;
                    ASSERT_EQ((uint64_t(high) << 16) | (low >> 16), prefix6(sub, want[i])) << "sorted index " << i;
                }
                for (uint32_t p = 0; p < sub.size(); ++p) {
                    const uint32_t first = region[KVN_SORT_CAND_WORD + p];
                    const uint32_t second = region[KVN_SORT_CAND2_WORD + p];
                    expectRealCandidate(sub, p, first, c.floor);
                    expectRealCandidate(sub, p, second, c.floor);
                    if (second != 0) {
                        ASSERT_NE(first, 0u) << "position " << p;
                    }
                }
            }
        }
    }
}

// Where the nearest earlier repeats are known, the candidates are exactly
// them: one period back (and two periods back behind it), or distance 8 in a
// run of one byte when the floor allows it, else the floor.
TEST(LzSort, CandidatesAreTheNearestLongestRepeats) {
    struct Want {
        const char* name;
        std::vector<uint8_t> input;
        uint32_t floor, first_dist, second_dist;
    };
    const Want cases[] = {
        {"Periodic1000", periodic(9000, 1000, 5), 8, 1000, 2000},
        {"Zeros", std::vector<uint8_t>(3000, 0), 8, 8, 9},
        {"ZerosFloor16", std::vector<uint8_t>(3000, 0), 16, 16, 17},
        {"FullZeros", std::vector<uint8_t>(65536, 0), 8, 8, 9},
    };
    for (const Want& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t n = uint32_t(c.input.size());
        const std::vector<uint32_t> lengths{n};
        const std::vector<CompressChunkDesc> descs = sortParseDescs(lengths);
        for (KernelBackend backend : kBackends) {
            SCOPED_TRACE(backendName(backend));
            KernelRig rig(backend);
            const SortRun run = runSortPrepass(rig, c.input, descs, c.floor);
            ASSERT_EQ(run.fault, "");
            for (uint32_t p = c.second_dist; p + 64 <= n; ++p) {
                ASSERT_EQ(run.work[KVN_SORT_CAND_WORD + p], (64u << 16) | c.first_dist) << "position " << p;
                ASSERT_EQ(run.work[KVN_SORT_CAND2_WORD + p], (64u << 16) | c.second_dist) << "position " << p;
            }
        }
    }
}

}  // namespace
}  // namespace kvn::test
