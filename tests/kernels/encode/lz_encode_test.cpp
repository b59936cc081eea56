// The greedy LZ encode kernels against the reference parse: every sub-chunk's
// LZ output must equal the reference streams byte for byte, on the host
// runtime and on lavapipe.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>

#include "core/format/chunk_test_data.h"
#include "encode_rig.h"
#include "kernels/embedded_modules.h"
#include "vulkan/device/encode_pipelines.h"

namespace kvn::test {
namespace {

constexpr KernelBackend kBackends[] = {KernelBackend::Host, KernelBackend::Lavapipe};

std::vector<uint8_t> repeated(size_t n, uint8_t byte) { return std::vector<uint8_t>(n, byte); }

std::vector<uint8_t> allByteValues(size_t n) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(i * 167 + (i >> 8));
    return out;
}

// Text with stretches of one byte between its lines.
std::vector<uint8_t> textWithRuns(size_t n) {
    std::vector<uint8_t> text = machineText(n), out;
    for (size_t i = 0; out.size() < n; ++i) {
        out.push_back(text[i % text.size()]);
        if (i % 5000 == 4999) out.insert(out.end(), 100 + i % 3000, uint8_t('a' + i % 7));
    }
    out.resize(n);
    return out;
}

// Runs the kernel on both backends and compares each sub-chunk with the
// reference.
void expectReferenceStreams(const std::vector<uint8_t>& input, float fraction, const LzRun& run,
                            uint32_t slot_floor = 0) {
    const FrameGeometry frame = planFrame(input.size(), fraction, slot_floor);
    const std::vector<ref::SubChunkStreams> want = referenceStreams(input, frame, run.params);
    for (KernelBackend backend : kBackends) {
        SCOPED_TRACE(backendName(backend));
        KernelRig rig(backend);
        const LzResult got = runLzKernel(rig, input, frame, run);
        ASSERT_EQ(got.fault, "");
        for (size_t i = 0; i < want.size(); ++i) {
            const std::vector<uint8_t> expected = ref::lzOutput(want[i]);
            ASSERT_EQ(got.sizes[i], expected.size()) << "sub-chunk " << i;
            const std::vector<uint8_t> actual = slotBytes(got, frame, i);
            const auto diff = std::mismatch(expected.begin(), expected.end(), actual.begin());
            ASSERT_TRUE(diff.first == expected.end())
                << "sub-chunk " << i << " differs at byte " << (diff.first - expected.begin()) << " of "
                << expected.size() << ": " << testing::PrintToString(std::vector<uint8_t>(diff.first, expected.end()))
                << " vs " << testing::PrintToString(std::vector<uint8_t>(diff.second, actual.end()));
        }
    }
}

ref::LzParams levelParams(int level) { return ref::encodeOptionsForLevel(level, 0.25f).lz; }

struct LzCase {
    const char* name;
    std::function<std::vector<uint8_t>()> input;
    float fraction;
    int level;
    uint32_t floor = 8;
    const char* kernel = "kvnLzEncodeGreedyKernel";
};

const LzCase kLzCases[] = {
    {"OneByte", [] { return repeated(1, 'x'); }, 0.25f, 1},
    {"Text128", [] { return machineText(128); }, 0.25f, 1},
    {"A129", [] { return repeated(129, 'A'); }, 0.25f, 1},
    {"AllByteValues", [] { return allByteValues(5000); }, 0.25f, 1},
    {"RandomBytes", [] { return randomBytes(40000, 3); }, 0.25f, 2},
    {"LongRunsLevel2", [] { return textWithRuns(90000); }, 0.5f, 2},
    {"OneRunOverTwoHalves", [] { return repeated(100000, 0); }, 0.5f, 1},
    {"SubChunkOf65536", [] { return machineText(65536); }, 0.5f, 1},
    {"SubChunkOf65537", [] { return machineText(65537); }, 0.5f, 2},
    {"TextQuarterChunks", [] { return machineText(200000); }, 0.25f, 1},
    {"TextQuarterChunksLevel4", [] { return machineText(140000); }, 0.25f, 4},
    {"TextHalfChunksLevel3", [] { return machineText(150000); }, 0.5f, 3},
    {"FarRepeatsWholeChunks", [] { return repetitiveBytes(300000, 5); }, 1.0f, 1},
    {"FarRepeatsWholeChunksLevel2", [] { return repetitiveBytes(280000, 6); }, 1.0f, 2},
    // Whole-chunk groups of text and of a long C header: one warp parses
    // 256 KiB, within lavapipe's loop budget.
    {"TextWholeChunks", [] { return machineText(262144); }, 1.0f, 1},
    {"TextWholeChunksLevel2", [] { return machineText(262144); }, 1.0f, 2},
    {"HeaderWholeChunksLevel2", [] { return fileHead("/usr/include/vulkan/vulkan_core.h", 262144); }, 1.0f, 2},
    {"FloorOf16", [] { return textWithRuns(70000); }, 0.25f, 2, 16},
    {"FloorOf300", [] { return machineText(70000); }, 0.25f, 1, 300},
    {"Greedy16Text", [] { return machineText(140000); }, 0.25f, 1, 8, "kvnLzEncodeGreedy16Kernel"},
    {"Greedy16Level2", [] { return textWithRuns(140000); }, 0.25f, 2, 8, "kvnLzEncodeGreedy16Kernel"},
    {"Greedy16HalfChunkOf65536", [] { return machineText(65536); }, 0.5f, 4, 8, "kvnLzEncodeGreedy16Kernel"},
};

// One test for the whole table: each test program compiles the module on
// lavapipe at its first launch, which is slow when many start at once.
TEST(LzEncode, StreamsEqualTheReferenceParseOnEveryInput) {
    for (const LzCase& c : kLzCases) {
        SCOPED_TRACE(c.name);
        LzRun run{c.kernel, levelParams(c.level)};
        run.params.min_distance = c.floor;
        expectReferenceStreams(c.input(), c.fraction, run);
    }
}

// With a dictionary the group's first sub-chunk may match into it, and no
// other source lies before the sub-chunk's start.
TEST(LzEncode, DictionaryMatchesEqualTheReference) {
    const std::vector<uint8_t> dict = machineText(20000);
    std::vector<uint8_t> input(dict.begin() + 3000, dict.begin() + 9000);
    const std::vector<uint8_t> more = machineText(150000);
    input.insert(input.end(), more.begin() + 60000, more.end());
    for (int level : {1, 2}) {
        SCOPED_TRACE(level);
        LzRun run{"kvnLzEncodeGreedyKernel", levelParams(level)};
        run.params.dictionary = dict;
        expectReferenceStreams(input, 0.25f, run);
        expectReferenceStreams(input, 1.0f, run);
    }
}

// Fewer warps than groups: each warp steps through several groups with its
// own table, cleared for every group.
TEST(LzEncode, WarpsStepThroughSeveralGroups) {
    LzRun run{"kvnLzEncodeGreedyKernel", levelParams(2), 2};
    expectReferenceStreams(machineText(150000), 0.125f, run);
}

// The encode table builds the chain and sort-parse pipelines from the same
// module with other specialization constants (their parse modes are not this
// module's work); the module must build with every row.
TEST(LzEncode, ModuleBuildsForEveryRowOfTheEncodeTable) {
    KernelRig rig(KernelBackend::Lavapipe);  // brings the device up
    const EmbeddedModule* module = nullptr;
    for (const EmbeddedModule& m : embeddedModules())
        if (std::string_view(m.name) == kLzEncodeModule) module = &m;
    ASSERT_NE(module, nullptr);
    for (const EncodeKernelSpec& spec : kEncodeKernelSpecs) {
        if (std::string_view(spec.module_name) != kLzEncodeModule) continue;
        KernelHandle pipeline = nullptr;
        EXPECT_TRUE(buildEncodePipeline(module->bytes, module->size, spec, &pipeline)) << spec.kernel_name;
    }
}

// A slot of 3 x 64 bytes cannot hold the scratch areas of a 64-byte
// sub-chunk: such sub-chunks get the LZ size 0 rather than spilling into the
// next slot, whose bytes stay right. Slots of 3 x max(sub, 72) bytes fit.
TEST(LzEncode, TinySubChunksNeedSlotsOf72Bytes) {
    const std::vector<uint8_t> input = machineText(3000);
    const float fraction = 1.0f / 4096;  // 64-byte chunks; the last one 56 bytes
    const ref::LzParams params = levelParams(1);
    expectReferenceStreams(input, fraction, {"kvnLzEncodeGreedyKernel", params}, 72);
    const FrameGeometry frame = planFrame(input.size(), fraction);
    const std::vector<ref::SubChunkStreams> want = referenceStreams(input, frame, params);
    for (KernelBackend backend : kBackends) {
        KernelRig rig(backend);
        const LzResult got = runLzKernel(rig, input, frame, {"kvnLzEncodeGreedyKernel", params});
        ASSERT_EQ(got.fault, "");
        for (size_t i = 0; i + 1 < want.size(); ++i) EXPECT_EQ(got.sizes[i], 0u) << i;
        EXPECT_EQ(slotBytes(got, frame, want.size() - 1), ref::lzOutput(want.back())) << backendName(backend);
    }
}

// lavapipe ends an invocation's loops after 65,535 iterations in all. A
// 1 MiB group of two symbols in random order parses into about 130,000 short
// matches, one scan step each, which is more than that. What lavapipe could
// not finish is marked with an LZ size of 0 (the host then stores the chunk
// raw), never with wrong bytes; the host runtime has no such limit.
TEST(LzEncode, GroupBeyondTheLavapipeLoopBudgetFailsVisibly) {
    std::vector<uint8_t> input = randomBytes(1 << 20, 11);
    for (uint8_t& b : input) b = 'a' + (b & 1);
    const FrameGeometry frame = planFrame(input.size(), 4.0f);
    const ref::LzParams params = levelParams(1);
    const std::vector<ref::SubChunkStreams> want = referenceStreams(input, frame, params);
    for (KernelBackend backend : kBackends) {
        SCOPED_TRACE(backendName(backend));
        KernelRig rig(backend);
        const LzResult got = runLzKernel(rig, input, frame, {"kvnLzEncodeGreedyKernel", params});
        ASSERT_EQ(got.fault, "");
        bool cut = false;
        for (size_t i = 0; i < want.size(); ++i) {
            cut |= got.sizes[i] == 0;
            if (got.sizes[i] != 0) {
                EXPECT_EQ(slotBytes(got, frame, i), ref::lzOutput(want[i])) << "sub-chunk " << i;
            }
        }
        EXPECT_EQ(cut, backend == KernelBackend::Lavapipe);
    }
}

// 129 bytes of 'A' at level 1 with the default options, worked out by hand:
// the first 8 bytes are raw; at position 8 the recent offset 8 matches from
// position 9 with 3 verified bytes, extends forward to the end (120 bytes)
// and back by one to position 8, giving a 121-byte match with no literals.
// A match of 91 bytes or more is the command 1 with length value 121 - 91 =
// 30 and its distance 8 in the off16 stream, even at the recent offset.
TEST(LzEncode, A129AtLevelOneByHand) {
    const std::vector<uint8_t> want = {
        'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A',  // raw bytes of the frame's first sub-chunk
        0, 0, 0,                                 // no literals
        0, 0, 1, 1,                              // one token: command 1
        1, 0, 8, 0,                              // one off16 entry: 8
        0, 0, 0,                                 // no off32 entries
        30,                                      // length value
    };
    const std::vector<uint8_t> input(129, 'A');
    const FrameGeometry frame = planFrame(input.size(), 0.25f);
    EXPECT_EQ(ref::lzOutput(referenceStreams(input, frame, levelParams(1))[0]), want);
    for (KernelBackend backend : kBackends) {
        KernelRig rig(backend);
        const LzResult got = runLzKernel(rig, input, frame, {"kvnLzEncodeGreedyKernel", levelParams(1)});
        ASSERT_EQ(got.fault, "");
        EXPECT_EQ(slotBytes(got, frame, 0), want) << backendName(backend);
    }
}

}  // namespace
}  // namespace kvn::test
