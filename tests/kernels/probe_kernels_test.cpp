// The probe kernels' host builds against plain C++ references.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "tests/kernel_runtime/host_kernel.h"
#include "tests/kernel_runtime/launch.h"

namespace {

using kvn::host::LaunchResult;
using kvn::host::LaunchShape;
using kvn::host::runKernel;

std::vector<uint32_t> randomWords(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(n);
    for (uint32_t& x : v) x = rng();
    return v;
}

// Bytes of a real file, repeated to n bytes.
std::vector<uint8_t> fileBytes(size_t n) {
    std::ifstream in("/usr/include/stdlib.h", std::ios::binary);
    std::vector<uint8_t> text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty()) text = {1, 2, 3, 250, 251, 252};
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = text[i % text.size()];
    return out;
}

uint32_t blocksFor(size_t n, uint32_t per_block) { return uint32_t((n + per_block - 1) / per_block); }

// ---- block scan -------------------------------------------------------------

std::vector<uint32_t> segmentScan(const std::vector<uint32_t>& v, size_t segment) {
    std::vector<uint32_t> out(v.size());
    uint32_t sum = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        if (i % segment == 0) sum = 0;
        sum += v[i];
        out[i] = sum;
    }
    return out;
}

class BlockScanProbe : public ::testing::TestWithParam<uint32_t> {};

TEST_P(BlockScanProbe, WordsMatchReference) {
    const uint32_t count = GetParam();
    std::vector<uint32_t> words = randomWords(count, count);
    std::vector<uint32_t> sums(count, 0xDEADBEEFu);
    const uint32_t* in = words.data();
    uint32_t* out = sums.data();
    LaunchResult r = runKernel("kvnProbeBlockScanKernel", {.grid_x = blocksFor(count, 256)}, in, out, count, 0u);
    ASSERT_TRUE(r.ok()) << r.fault;
    EXPECT_EQ(sums, segmentScan(words, 256));
}

TEST_P(BlockScanProbe, BytesThroughSecondViewMatchReference) {
    const uint32_t count = GetParam();
    std::vector<uint8_t> bytes = fileBytes(count);
    std::vector<uint32_t> words((count + 3) / 4 + 1);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    std::vector<uint32_t> sums(count);
    const uint32_t* in = words.data();
    uint32_t* out = sums.data();
    LaunchResult r = runKernel("kvnProbeBlockScanKernel", {.grid_x = blocksFor(count, 256)}, in, out, count, 1u);
    ASSERT_TRUE(r.ok()) << r.fault;
    EXPECT_EQ(sums, segmentScan(std::vector<uint32_t>(bytes.begin(), bytes.end()), 256));
}

INSTANTIATE_TEST_SUITE_P(Counts, BlockScanProbe, ::testing::Values(1u, 255u, 256u, 257u, 1000u, 70001u));

// ---- warp compaction and collectives ------------------------------------------

constexpr uint32_t kResultsPerThread = 10;

struct CompactReference {
    std::vector<uint32_t> kept;
    std::vector<uint32_t> tile_counts;
    std::vector<uint32_t> lane_results;
};

CompactReference compactReference(const std::vector<uint32_t>& values, uint32_t drop_mask) {
    const uint32_t count = uint32_t(values.size());
    const uint32_t tiles = (count + 31) / 32;
    CompactReference ref{std::vector<uint32_t>(tiles * 32, 0), std::vector<uint32_t>(tiles + 1, 0),
                         std::vector<uint32_t>(count * kResultsPerThread, 0)};
    for (uint32_t t = 0; t < tiles; ++t) {
        uint32_t v[32], prefix[32];
        bool keep[32], valid[32];
        uint32_t kept = 0, sum = 0, low = UINT32_MAX, high = 0, running = 0;
        bool any = false, all = true;
        for (uint32_t l = 0; l < 32; ++l) {
            uint32_t idx = t * 32 + l;
            valid[l] = idx < count;
            v[l] = valid[l] ? values[idx] : 0;
            keep[l] = valid[l] && (v[l] & drop_mask) == 0;
            if (keep[l]) ref.kept[t * 32 + kept++] = v[l];
            sum += v[l];
            low = std::min(low, v[l]);
            high = std::max(high, v[l]);
            running += v[l];
            prefix[l] = running;
            any = any || keep[l];
            all = all && valid[l];
        }
        ref.tile_counts[t] = kept;
        for (uint32_t l = 0; l < 32; ++l) {
            uint32_t idx = t * 32 + l;
            if (!valid[l]) continue;
            uint32_t* r = &ref.lane_results[idx * kResultsPerThread];
            r[0] = v[31 - l];
            r[1] = l >= 3 ? v[l - 3] : v[l];
            r[2] = l + 5 < 32 ? v[l + 5] : v[l];
            r[3] = v[l ^ 6];
            r[4] = v[t % 32];
            r[5] = low;
            r[6] = high;
            r[7] = prefix[l];
            r[8] = sum;
            r[9] = (any ? 1u : 0u) | (all ? 2u : 0u) | 4u | 8u;
        }
    }
    return ref;
}

struct CompactCase {
    uint32_t count;
    uint32_t drop_mask;
    uint32_t blocks;   // fewer than the tiles need: warps loop over tiles
    uint32_t workers;  // OS threads of the runtime; 0: one per processor
};

class WarpCompactProbe : public ::testing::TestWithParam<CompactCase> {};

TEST_P(WarpCompactProbe, MatchesReference) {
    const CompactCase c = GetParam();
    std::vector<uint32_t> values = randomWords(c.count, c.count ^ c.drop_mask);
    for (uint32_t i = 0; i < c.count; i += 7) values[i] = 0;  // zeros survive every mask
    const uint32_t tiles = (c.count + 31) / 32;
    std::vector<uint32_t> kept(tiles * 32, 0), tile_counts(tiles + 1, 0), lanes(c.count * kResultsPerThread, 0);
    const uint32_t* in = values.data();
    uint32_t* kept_out = kept.data();
    uint32_t* counts_out = tile_counts.data();
    uint32_t* lanes_out = lanes.data();
    LaunchResult r = runKernel("kvnProbeWarpCompactKernel", {.grid_x = c.blocks, .workers = c.workers}, in, kept_out,
                               counts_out, lanes_out, c.count, c.drop_mask);
    ASSERT_TRUE(r.ok()) << r.fault;
    CompactReference ref = compactReference(values, c.drop_mask);
    EXPECT_EQ(tile_counts, ref.tile_counts);
    EXPECT_EQ(kept, ref.kept);
    EXPECT_EQ(lanes, ref.lane_results);
}

INSTANTIATE_TEST_SUITE_P(Cases, WarpCompactProbe,
                         ::testing::Values(CompactCase{1, 0x3, 1, 0}, CompactCase{31, 0x1, 1, 0},
                                           CompactCase{32, 0x0, 1, 1}, CompactCase{33, 0xFFFFFFFFu, 1, 0},
                                           CompactCase{64 * 5 + 7, 0x3, 2, 0}, CompactCase{5000, 0x5, 3, 1},
                                           CompactCase{5000, 0x5, 64, 0}));

// ---- atomics and the device-address parameter -----------------------------------

struct AtomicCase {
    uint32_t count;
    uint32_t bins;
};

class AtomicAddressProbe : public ::testing::TestWithParam<AtomicCase> {};

TEST_P(AtomicAddressProbe, MatchesReference) {
    const AtomicCase c = GetParam();
    std::vector<uint32_t> values = randomWords(c.count, c.count + c.bins);
    std::vector<uint32_t> summary = {UINT32_MAX, 0, 0, 0, UINT32_MAX, 0, 0, 0, 0, 0};
    uint32_t* launch_switch = kvn::host::findGlobal("g_kvn_probe_switch");
    ASSERT_NE(launch_switch, nullptr);
    *launch_switch = c.count ^ 0x5A5A5A5Au;
    std::vector<uint32_t> histogram(c.bins, 0);
    const uint32_t* in = values.data();
    uint32_t* summary_out = summary.data();
    uint32_t* histogram_address = histogram.data();
    LaunchResult r = runKernel("kvnProbeAtomicAddressKernel", {.grid_x = blocksFor(c.count, 128)}, in, summary_out,
                               histogram_address, c.count, c.bins);
    ASSERT_TRUE(r.ok()) << r.fault;

    std::vector<uint32_t> want_histogram(c.bins, 0);
    std::vector<uint32_t> want = {UINT32_MAX, 0, 0, 0, UINT32_MAX, 0, 1, 7, 0, c.count ^ 0x5A5A5A5Au};
    for (uint32_t v : values) {
        ++want_histogram[v % c.bins];
        want[0] = std::min(want[0], v);
        want[1] = std::max(want[1], v);
        want[2] |= v;
        want[3] ^= v;
        want[4] &= v;
        want[8] += v;
    }
    EXPECT_EQ(histogram, want_histogram);
    EXPECT_GE(summary[5], 1u);  // the winner's index + 1
    EXPECT_LE(summary[5], c.count);
    summary[5] = 0;
    EXPECT_EQ(summary, want);
}

INSTANTIATE_TEST_SUITE_P(Cases, AtomicAddressProbe,
                         ::testing::Values(AtomicCase{1, 1}, AtomicCase{127, 7}, AtomicCase{128, 256},
                                           AtomicCase{129, 3}, AtomicCase{100000, 256}));

}  // namespace
