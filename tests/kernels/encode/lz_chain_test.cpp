// The chain LZ encode kernel (level 5): every sub-chunk's streams decode back
// to the input with the reference decoder, no match distance lies below 8 or
// above 65,535, and lavapipe writes the host runtime's streams; the literal
// run split pinned on its examples.
#include <gtest/gtest.h>

#include <functional>

#include "core/format/chunk_test_data.h"
#include "encode_rig.h"
#include "kernels/dialect.h"
#include "kernels/format_constants.h"
#include "kernels/lz_unroll.h"
// The split is pure code of the kernel dialect; the host build takes it as is.
#include "kernels/lz_literal_split.h"

namespace kvn::test {
namespace {

constexpr uint32_t kChainFloor = 8;
constexpr uint32_t kNearDistanceMax = 0xFFFF;

// ---- the split of literal runs -------------------------------------------

struct Split {
    std::vector<uint32_t> tokens;  // of the written pieces, in order
    uint32_t last_literals;        // for the match's own sequence
};

Split splitOf(uint32_t len, std::initializer_list<uint32_t> repeating) {
    uint64_t repeats = 0;
    for (uint32_t k : repeating) repeats |= uint64_t{1} << k;
    const uint64_t written = lzSplitRun(len, repeats);
    Split s{{}, lzSplitLastLiterals(len, written)};
    for (uint32_t k = 0; k < len; ++k)
        if (const uint32_t t = lzSplitToken(k, written)) s.tokens.push_back(t);
    return s;
}

TEST(LzChainSplit, RunsSplitAtRepeatingBytesOnlyWhereTokensAreSaved) {
    struct Case {
        const char* what;
        uint32_t len;
        std::initializer_list<uint32_t> repeating;
        std::vector<uint32_t> tokens;
        uint32_t last_literals;
    };
    const Case cases[] = {
        {"10 bytes, the sixth repeats: five literals and the byte", 10, {5}, {0x8D}, 4},
        {"12 bytes, the second and fourth repeat: the pieces merge back", 12, {1, 3}, {}, 12},
        {"adjacent repeats: only the first separates", 13, {6, 7}, {0x8E}, 6},
        {"a piece of 20 literals: two tokens of seven, then six and the byte", 30, {20}, {0x87, 0x87, 0x8E}, 9},
        {"no repeat", 40, {}, {}, 40},
        {"7 bytes are not split", 7, {3}, {}, 7},
        {"64 bytes are not split", 64, {30}, {}, 64},
        {"byte 0 never separates", 9, {0}, {}, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Split s = splitOf(c.len, c.repeating);
        EXPECT_EQ(s.tokens, c.tokens);
        EXPECT_EQ(s.last_literals, c.last_literals);
    }
}

// Every split accounts for each byte of the run once: the literals of the
// written pieces' tokens, their one-byte matches and the last literals.
TEST(LzChainSplit, WrittenPiecesCoverTheRun) {
    uint32_t seed = 1;
    for (int round = 0; round < 20000; ++round) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t len = 8 + (seed >> 8) % 56;
        uint64_t repeats = 0;
        for (uint32_t k = 0; k < len; ++k) {
            seed = seed * 1103515245u + 12345u;
            if ((seed >> 16) % 4 == 0) repeats |= uint64_t{1} << k;
        }
        const uint64_t written = lzSplitRun(len, repeats);
        uint32_t covered = lzSplitLastLiterals(len, written);
        for (uint32_t k = 0; k < len; ++k) {
            const uint32_t t = lzSplitToken(k, written);
            if (t == 0) continue;
            ASSERT_GE(t, 0x87u);
            covered += t == 0x87 ? 7 : (t & 7) + 1;
        }
        ASSERT_EQ(covered, len) << "run of " << len;
        ASSERT_EQ(written & ~repeats, 0u) << "only repeating bytes separate";
    }
}

// ---- the kernel -----------------------------------------------------------

// A match's distance as the sequence walk sees it.
struct Walk {
    uint32_t matches = 0, smallest = UINT32_MAX, largest = 0;
};

// Walks the tokens of a sub-chunk's streams: the distance of every match,
// new (off16 or off32) or recent.
Walk walkDistances(const ref::ParsedSubChunk& s) {
    Walk w;
    uint32_t recent = KVN_INITIAL_REPEAT_DISTANCE;
    size_t off16 = 0;
    auto note = [&](uint32_t d) {
        ++w.matches;
        w.smallest = std::min(w.smallest, d);
        w.largest = std::max(w.largest, d);
    };
    for (uint8_t t : s.tokens) {
        if (t >= KVN_TOKEN_REPEAT) {
            if (((t >> 3) & 15) != 0) note(recent);
        } else if (t >= 32 || t == 1) {
            recent = off16 < s.off16.size() ? s.off16[off16++] : 0;
            note(recent);
        } else if (t != 0) {
            note(UINT32_MAX);  // a far match: never written by the chain parse
        }
    }
    return w;
}

struct ChainCase {
    const char* name;
    std::function<std::vector<uint8_t>()> input;
    float fraction;
};

std::vector<uint8_t> periodic(size_t n, size_t period) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t('a' + (i % period) * 7 % 26);
    return out;
}

// Two of every three bytes repeat from 8 back, the third is random: every
// sequence is a literal and a 2-byte recent match, a token per 3 bytes and
// one parse pass per 3 bytes.
std::vector<uint8_t> twoOfThreeRepeat(size_t n) {
    std::vector<uint8_t> input = randomBytes(n, 21);
    for (size_t i = 8; i < input.size(); ++i)
        if (i % 3 != 2) input[i] = input[i - 8];
    return input;
}

// Text with single-byte edits: literal runs before matches whose bytes often
// repeat from the recent offset.
std::vector<uint8_t> editedText(size_t n) {
    std::vector<uint8_t> out = machineText(n);
    for (size_t i = 37; i < n; i += 53) out[i] = uint8_t(out[i] ^ 0x20);
    return out;
}

const ChainCase kChainCases[] = {
    {"A129", [] { return std::vector<uint8_t>(129, 'A'); }, 0.25f},
    {"Text140k", [] { return machineText(140000); }, 0.25f},
    {"EditedText", [] { return editedText(100000); }, 0.25f},
    {"RandomBytes", [] { return randomBytes(70000, 5); }, 0.25f},
    {"PeriodThree", [] { return periodic(20000, 3); }, 0.25f},
    {"TwoOfThreeBytesRepeat", [] { return twoOfThreeRepeat(70000); }, 0.25f},
    {"TextWholeChunk", [] { return machineText(150000); }, 1.0f},
    {"ZerosOverHalves", [] { return std::vector<uint8_t>(140000, 0); }, 1.0f},
    {"FarRepeatsWholeChunk", [] { return repetitiveBytes(150000, 6); }, 1.0f},
    {"HeaderWholeChunk", [] { return fileHead("/usr/include/vulkan/vulkan_core.h", 150000); }, 1.0f},
};

// Decodes every sub-chunk of the LZ output with the reference decoder into
// one frame output and checks the distances.
void expectChainStreams(const std::vector<uint8_t>& input, const FrameGeometry& frame, const LzResult& lz,
                        const std::vector<uint8_t>& dict, bool allow_raw) {
    std::vector<uint8_t> out(input.size(), 0xEE);
    std::copy_n(input.begin(), std::min<size_t>(KVN_FRAME_PREFIX_BYTES, input.size()), out.begin());
    for (size_t i = 0; i < frame.descs.size(); ++i) {
        SCOPED_TRACE("sub-chunk " + std::to_string(i));
        const CompressChunkDesc& d = frame.descs[i];
        if (lz.sizes[i] == 0) {
            // A sub-chunk the kernel gave up on is stored raw by the host.
            ASSERT_TRUE(allow_raw) << "no LZ size";
            std::copy_n(input.begin() + d.src_off, d.len, out.begin() + d.src_off);
            continue;
        }
        const std::vector<uint8_t> slot = slotBytes(lz, frame, i);
        const ref::ParsedSubChunk parsed = ref::parseSubChunk(slot.data(), uint32_t(slot.size()), d.len, d.first != 0);
        EXPECT_TRUE(parsed.off32_first.empty() && parsed.off32_second.empty()) << "no off32 entries";
        const Walk w = walkDistances(parsed);
        if (w.matches) {
            EXPECT_GE(w.smallest, kChainFloor);
            EXPECT_LE(w.largest, kNearDistanceMax);
        }
        ref::decodeSequence(parsed, KVN_LITMODE_PLAIN, d.len, out, d.src_off,
                            {dict.data(), uint32_t(dict.size())});
    }
    ASSERT_EQ(out.size(), input.size());
    const auto diff = std::mismatch(out.begin(), out.end(), input.begin());
    EXPECT_TRUE(diff.first == out.end()) << "decoded bytes differ at " << (diff.first - out.begin());
}

LzRun chainRun(const std::vector<uint8_t>& dict = {}) {
    LzRun run{"kvnLzEncodeChainKernel", ref::encodeOptionsForLevel(4, 0.25f).lz};
    run.params.hash_bits = 17;
    run.params.insert_in_matches = true;
    run.params.dictionary = dict;
    return run;
}

// One test for the table: each test program compiles the module on lavapipe
// at its first launch.
TEST(LzChain, StreamsDecodeToTheInputWithDistancesFrom8To65535) {
    for (const ChainCase& c : kChainCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> input = c.input();
        const FrameGeometry frame = planFrame(input.size(), c.fraction);
        KernelRig host(KernelBackend::Host);
        const LzResult on_host = runLzKernel(host, input, frame, chainRun());
        ASSERT_EQ(on_host.fault, "");
        expectChainStreams(input, frame, on_host, {}, false);
        // lavapipe gives up a sub-chunk only where its loop budget runs out;
        // every sub-chunk it writes is the host runtime's.
        KernelRig lavapipe(KernelBackend::Lavapipe);
        const LzResult on_device = runLzKernel(lavapipe, input, frame, chainRun());
        ASSERT_EQ(on_device.fault, "");
        for (size_t i = 0; i < frame.descs.size(); ++i) {
            if (c.fraction < 1.0f) EXPECT_NE(on_device.sizes[i], 0u) << "sub-chunk " << i << " within the budget";
            if (on_device.sizes[i] == 0) continue;
            EXPECT_EQ(on_device.sizes[i], on_host.sizes[i]) << "sub-chunk " << i;
            EXPECT_TRUE(slotBytes(on_device, frame, i) == slotBytes(on_host, frame, i)) << "sub-chunk " << i;
        }
    }
}

// With a dictionary the group's first sub-chunk may match into it, and no
// other source lies before a sub-chunk's start.
TEST(LzChain, DictionaryMatchesDecode) {
    const std::vector<uint8_t> dict = machineText(20000);
    std::vector<uint8_t> input(dict.begin() + 3000, dict.begin() + 9000);
    const std::vector<uint8_t> more = machineText(150000);
    input.insert(input.end(), more.begin() + 60000, more.end());
    for (float fraction : {0.25f, 1.0f}) {
        SCOPED_TRACE(fraction);
        const FrameGeometry frame = planFrame(input.size(), fraction);
        KernelRig host(KernelBackend::Host);
        const LzResult lz = runLzKernel(host, input, frame, chainRun(dict));
        ASSERT_EQ(lz.fault, "");
        expectChainStreams(input, frame, lz, dict, false);
        // The dictionary is used: the 6,000 bytes taken from it become a few
        // matches instead of literals.
        const LzResult alone = runLzKernel(host, input, frame, chainRun());
        EXPECT_LT(lz.sizes[0] + 4000, alone.sizes[0]);
    }
}

// A whole chunk's group (262,144 bytes) of 3-byte sequences needs more
// parse passes than lavapipe's loop budget gives an invocation; the
// sub-chunk it cuts short gets no LZ size (the host stores it raw), every
// other is the host's. One invocation runs the whole budget (about 30 s on
// an idle machine, beyond the fence wait on a loaded one), so the test is
// run by hand: --gtest_also_run_disabled_tests.
TEST(LzChain, DISABLED_GroupBeyondTheLavapipeLoopBudgetIsStoredRaw) {
    const std::vector<uint8_t> input = twoOfThreeRepeat(262144);
    const FrameGeometry frame = planFrame(input.size(), 1.0f);
    KernelRig host(KernelBackend::Host);
    const LzResult on_host = runLzKernel(host, input, frame, chainRun());
    ASSERT_EQ(on_host.fault, "");
    expectChainStreams(input, frame, on_host, {}, false);
    EXPECT_GT(on_host.sizes[0], 0u);
    EXPECT_LT(on_host.sizes[0], 131072u) << "compressed";
    KernelRig lavapipe(KernelBackend::Lavapipe);
    const LzResult on_device = runLzKernel(lavapipe, input, frame, chainRun());
    ASSERT_EQ(on_device.fault, "");
    EXPECT_EQ(on_device.sizes[1], 0u) << "the budget ends in the second sub-chunk";
    if (on_device.sizes[0] != 0) EXPECT_TRUE(slotBytes(on_device, frame, 0) == slotBytes(on_host, frame, 0));
}

}  // namespace
}  // namespace kvn::test
