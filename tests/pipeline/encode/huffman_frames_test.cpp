// Frames with Huffman-coded streams (levels 3 and 4) beyond the reference
// comparisons of round_trip_test.cpp: frames of the same size one after the
// other on one handle, the stage's timing entries, and a Huffman stage that
// cannot run, which leaves its streams raw while the frame still decodes.
#include <string>

#include "core/format/compress_bound.h"
#include "encode_test_support.h"
#include "vulkan/device/device_buffers.h"

namespace kvn::test {
namespace {

using HuffmanFramesTest = EncodeTest;

// Nothing of one frame's streams may carry over into the next: two inputs
// of one size and different content, compressed in turn on one handle.
TEST_F(HuffmanFramesTest, EqualSizeFramesOfDifferentContentEachRoundTrip) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes text = realFile("/usr/include/stdio.h", 150000);
    const Bytes other = realFile("/usr/include/vulkan/vulkan_core.h", 150000);
    ASSERT_NE(text, other);
    for (int level : {3, 4}) {
        const CompressOpts opts = withTrailers(level);
        for (const Bytes* input : {&text, &other, &text}) {
            SCOPED_TRACE("level " + std::to_string(level));
            const Bytes frame = compressOk(*input, opts);
            EXPECT_TRUE(frame == referenceFrame(*input, opts)) << "the GPU frame is the reference encoder's";
            expectDecodersRestore(handle_, frame, *input, opts);
        }
    }
}

TEST_F(HuffmanFramesTest, TimingsNameTheHuffmanSteps) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    CompressOpts opts{};
    opts.level = 3;
    opts.record_timings = 1;
    compressOk(realFile("/usr/include/stdio.h", 100000), opts);
    TimingEntry entries[16];
    uint64_t count = 0;
    ASSERT_EQ(kvnGetLastTimings(handle_, entries, 16, &count), 0u);
    const char* labels[] = {"kvnLzEncodeKernel",  "huff-lit/build",   "huff-lit/encode",          "huff-tok/build",
                            "huff-tok/encode",    "huff-off16/build", "huff-off16/encode",        "kvnAssembleMeasureKernel",
                            "kvnAssembleWriteKernel", "kvnFrameAssembleKernel"};
    ASSERT_EQ(count, std::size(labels));
    for (size_t i = 0; i < std::size(labels); ++i) EXPECT_STREQ(entries[i].label, labels[i]);
}

// Each of a fresh handle's first device allocations refused in turn at
// level 3: one the LZ stage or the assembly needs fails the call (status 7);
// one only a Huffman step needs leaves that step's streams raw, and the
// frame, longer than the fully coded one, still decodes to the input.
TEST_F(HuffmanFramesTest, AHuffmanStepThatCannotRunWritesItsStreamsRaw) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no encode or decode kernels yet";
    const Bytes input = realFile("/usr/include/vulkan/vulkan_core.h", 200000);
    const CompressOpts opts = withTrailers(3);
    const Bytes coded = compressOk(input, opts);
    int raw_frames = 0, out_of_memory = 0;
    for (int after = 0; after < 32; ++after) {
        void* handle = nullptr;
        ASSERT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
        Bytes out(compressBound(input.size()));
        uint64_t size = 0;
        injectDeviceAllocFailure(after);
        const KvnStatus s = kvnCompressHost(handle, input.data(), input.size(), out.data(), out.size(), &size, &opts);
        injectDeviceAllocFailure(-1);
        out.resize(size);
        if (s == KVN_STATUS_SUCCESS) {
            expectDecodersRestore(handle, out, input, opts);
            if (out != coded) {
                EXPECT_GT(out.size(), coded.size()) << "allocation " << after;
                ++raw_frames;
            }
        } else {
            EXPECT_EQ(s, KVN_STATUS_OUT_OF_MEMORY) << "allocation " << after;
            ++out_of_memory;
        }
        EXPECT_EQ(kvnDestroy(handle), KVN_STATUS_SUCCESS);
    }
    EXPECT_GT(raw_frames, 0) << "no refusal reached a Huffman step";
    EXPECT_GT(out_of_memory, 0);
}

}  // namespace
}  // namespace kvn::test
