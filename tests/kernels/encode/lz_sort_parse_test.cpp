// The sort-parse (mode 2 of the LZ encode module) after the sort pre-pass:
// every sub-chunk's LZ output decodes with the reference decoder to the
// input, no new distance lies below the floor, and repetitive inputs
// compress.
#include <gtest/gtest.h>

#include <functional>

#include "core/format/chunk_test_data.h"
#include "kernels/format_constants.h"
#include "encode_rig.h"
#include "sort_rig.h"
#include "tests/reference/ref_decoder.h"

namespace kvn::test {
namespace {

constexpr KernelBackend kBackends[] = {KernelBackend::Host, KernelBackend::Lavapipe};

std::vector<uint8_t> textWithRuns(size_t n) {
    std::vector<uint8_t> text = machineText(n), out;
    for (size_t i = 0; out.size() < n; ++i) {
        out.push_back(text[i % text.size()]);
        if (i % 3000 == 2999) out.insert(out.end(), 70 + i % 500, uint8_t('a' + i % 7));
    }
    out.resize(n);
    return out;
}

// Text whose bytes are often replaced by the byte 8 positions back (the
// initial recent offset): literal runs full of single repeated bytes.
std::vector<uint8_t> recentSprinkled(size_t n) {
    std::vector<uint8_t> out = randomBytes(n, 17);
    for (size_t i = 8; i < n; ++i)
        if (out[i] % 3 == 0) out[i] = out[i - 8];
    return out;
}

std::vector<uint8_t> twoSymbols(size_t n) {
    std::vector<uint8_t> out = randomBytes(n, 23);
    for (uint8_t& b : out) b = 'a' + (b & 1);
    return out;
}

// Every third byte breaks the repeat one recent offset back: a short recent
// match and a literal every three bytes.
std::vector<uint8_t> shortRecentMatches(size_t n) {
    std::vector<uint8_t> out = randomBytes(n, 31);
    for (size_t i = 8; i < n; ++i)
        if (i % 3 != 2) out[i] = out[i - 8];
        else if (out[i] == out[i - 8]) out[i] ^= 0x55;
    return out;
}

// Mostly one literal and a 2-byte recent match, with a 4-byte match at a
// new distance every few sequences: about one token per 3 bytes, with off16
// entries between.
std::vector<uint8_t> shortMatchesAndNewDistances(size_t n) {
    const std::vector<uint8_t> noise = randomBytes(2 * n, 41);
    std::vector<uint8_t> out(noise.begin(), noise.begin() + 300);
    size_t k = 300;
    uint32_t r = 8;
    while (out.size() + 8 < n) {
        // A literal that does not extend the previous match.
        uint8_t lit = noise[k++];
        if (lit == out[out.size() - r]) lit ^= 0x5A;
        out.push_back(lit);
        uint32_t copy = 2;
        if (noise[k++] % 6 == 0) {
            r = 9 + noise[k++] % 200;
            copy = 4;
        }
        for (uint32_t i = 0; i < copy; ++i) out.push_back(out[out.size() - r]);
    }
    out.resize(n, 0);
    return out;
}

struct ParseCase {
    const char* name;
    std::function<std::vector<uint8_t>()> input;
    std::vector<uint32_t> lengths;
    uint32_t floor = 8;
    bool compresses = true;  // the LZ output is smaller than the input
};

const ParseCase kCases[] = {
    {"NineBytes", [] { return machineText(9); }, {9}, 8, false},
    {"Text", [] { return machineText(20000); }, {20000}},
    {"Zeros", [] { return std::vector<uint8_t>(5000, 0); }, {5000}},
    {"TextWithRuns", [] { return textWithRuns(30000); }, {30000}},
    {"RecentSprinkled", [] { return recentSprinkled(20000); }, {20000}, 8, false},
    {"TwoSymbols", [] { return twoSymbols(20000); }, {20000}},
    {"RandomBytes", [] { return randomBytes(6000, 4); }, {6000}, 8, false},
    {"Repetitive", [] { return repetitiveBytes(40000, 8); }, {40000}},
    {"Floor16", [] { return textWithRuns(30000); }, {30000}, 16},
    {"Floor300", [] { return machineText(20000); }, {20000}, 300},
    {"SeveralSubChunks", [] { return machineText(30000); }, {9000, 0, 15000, 100, 5900}},
    {"FullSubChunk", [] { return machineText(65536); }, {65536}},
    {"FullTwoSymbols", [] { return twoSymbols(65536); }, {65536}},
    {"FullRecentSprinkled", [] { return recentSprinkled(65536); }, {65536}, 8, false},
    {"FullRandom", [] { return randomBytes(65536, 5); }, {65536}, 8, false},
    {"FullShortRecent", [] { return shortRecentMatches(65536); }, {65536}},
    {"FullShortMatchesAndNewDistances", [] { return shortMatchesAndNewDistances(65536); }, {65536}, 8, false},
    {"FullZeros", [] { return std::vector<uint8_t>(65536, 0); }, {65536}},
    {"FullRepetitive", [] { return repetitiveBytes(65536, 3); }, {65536}},
};

// Every match distance the tokens use, new or recent, is at least the floor.
void expectNoDistanceBelow(const ref::ParsedSubChunk& parsed, uint32_t floor) {
    uint32_t recent = KVN_INITIAL_REPEAT_DISTANCE;
    size_t next16 = 0;
    for (size_t i = 0; i < parsed.tokens.size(); ++i) {
        const uint32_t t = parsed.tokens[i];
        if (t & KVN_TOKEN_REPEAT) {
            if ((t >> KVN_TOKEN_MATCH_SHIFT & KVN_TOKEN_MATCH_MASK) != 0) {
                ASSERT_GE(recent, floor) << "token " << i;
            }
        } else if (t == KVN_TOKEN_LONG_MATCH16 || t >= KVN_TOKEN_SHORT_MIN) {
            ASSERT_LT(next16, parsed.off16.size()) << "token " << i;
            recent = parsed.off16[next16++];
            ASSERT_GE(recent, floor) << "token " << i;
        } else {
            ASSERT_EQ(t, KVN_TOKEN_LONG_LITERALS) << "token " << i;
        }
    }
}

// Runs the pre-pass and the parse on one backend and checks every
// sub-chunk; returns the total LZ size.
uint64_t expectSortParseDecodes(KernelBackend backend, const std::vector<uint8_t>& input,
                                const std::vector<uint32_t>& lengths, uint32_t floor) {
    const std::vector<CompressChunkDesc> descs = sortParseDescs(lengths);
    KernelRig rig(backend);
    const SortParseRun run = runSortParse(rig, input, descs, floor);
    EXPECT_EQ(run.fault, "");
    if (!run.fault.empty()) return 0;
    std::vector<uint8_t> out(input.size(), 0xEE);
    uint64_t lz_total = 0;
    for (size_t s = 0; s < descs.size(); ++s) {
        SCOPED_TRACE(s);
        const CompressChunkDesc& d = descs[s];
        if (d.len == 0) continue;
        const uint32_t size = run.sizes[s];
        EXPECT_NE(size, 0u);
        EXPECT_LE(size, d.out_stride);
        if (size == 0 || size > d.out_stride) return 0;
        lz_total += size;
        const uint8_t* slot = run.lz_output.data() + d.out_off;
        const bool first = d.first != 0;
        const ref::ParsedSubChunk parsed = ref::parseSubChunk(slot, size, d.len, first);
        EXPECT_TRUE(parsed.off32_first.empty() && parsed.off32_second.empty());
        expectNoDistanceBelow(parsed, floor);
        if (first) std::copy(slot, slot + std::min(d.len, KVN_FRAME_PREFIX_BYTES), out.begin() + d.src_off);
        ref::decodeSequence(parsed, KVN_LITMODE_PLAIN, d.len, out, d.src_off, {});
    }
    EXPECT_TRUE(out == input);
    return lz_total;
}

TEST(LzSortParse, StreamsDecodeToTheInput) {
    for (const ParseCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> input = c.input();
        for (KernelBackend backend : kBackends) {
            SCOPED_TRACE(backendName(backend));
            const uint64_t lz_total = expectSortParseDecodes(backend, input, c.lengths, c.floor);
            if (HasFailure()) return;
            if (c.compresses) {
                EXPECT_LT(lz_total, input.size() * 7 / 10);
            }
        }
    }
}

// Real files: the heads of a few corpus files in full sub-chunks.
TEST(LzSortParse, CorpusSlicesDecodeToTheInput) {
    if (std::string(KVN_CORPUS_DIR).empty()) GTEST_SKIP() << "no corpus folder configured (KVN_CORPUS_DIR)";
    for (const char* file : {"js-jquery.js", "json-iso-codes.json", "source-python.tar", "binary-x86.so"}) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> input = fileHead(std::string(KVN_CORPUS_DIR) + "/" + file, 150000);
        ASSERT_EQ(input.size(), 150000u);
        const std::vector<uint32_t> lengths{65536, 65536, 18928};
        for (KernelBackend backend : kBackends) {
            SCOPED_TRACE(backendName(backend));
            const uint64_t lz_total = expectSortParseDecodes(backend, input, lengths, 8);
            if (HasFailure()) return;
            EXPECT_LT(lz_total, input.size() / 2);
        }
    }
}

// A sub-chunk longer than 65,536 bytes does not fit the key and candidate
// fields: the pre-pass leaves it alone and the parse gives it the LZ size 0
// (the host stores it raw); the sub-chunk after it is parsed as usual.
TEST(LzSortParse, LongerSubChunksAreLeftToTheRawStore) {
    const std::vector<uint8_t> input = machineText(80000);
    const std::vector<uint32_t> lengths{65537, 14463};
    const std::vector<CompressChunkDesc> descs = sortParseDescs(lengths);
    for (KernelBackend backend : kBackends) {
        SCOPED_TRACE(backendName(backend));
        KernelRig rig(backend);
        const SortParseRun run = runSortParse(rig, input, descs, 8);
        ASSERT_EQ(run.fault, "");
        EXPECT_EQ(run.sizes[0], 0u);
        EXPECT_NE(run.sizes[1], 0u);
    }
}

}  // namespace
}  // namespace kvn::test
