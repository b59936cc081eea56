// Frames the Vulkan library writes at levels 5 and 6, with the word
// transform, and with byte planes decode through the CUDA library to the
// original bytes; their damaged forms give the Vulkan decoder's statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cuda/device/cuda_api.h"
#include "tests/cuda/decode/frame_cases.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

CompressOpts withWrt(CompressOpts opts) {
    opts.wrt = 1;
    return opts;
}

CompressOpts withStride(CompressOpts opts, int32_t stride) {
    opts.byte_plane_stride = stride;
    return opts;
}

// 16-bit samples of a slow ramp: byte planes make them shrink.
Bytes samples16(size_t count) {
    Bytes bytes;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t v = uint16_t(1000 + (i * 3) % 700 + (i / 64));
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    return bytes;
}

TEST(CudaDecodesTransformedFrames, LevelsFiveAndSix) {
    inChildProcess([] {
        const Bytes text = repetitiveText(70000, 31);
        expectRoundTrips({
            {"level 5, sort-parse", text, withChunkSize(optionsAt(5), 0.0625f)},
            {"level 5, dictionary", text, withDictionary(withChunkSize(optionsAt(5), 0.0625f), 2)},
            {"level 5, no trailers", text, withoutTrailers(withChunkSize(optionsAt(5), 0.0625f))},
            {"level 6", text, withChunkSize(optionsAt(6), 0.0625f)},
        });
    });
}

TEST(CudaDecodesTransformedFrames, WordTransformAtLowLevels) {
    inChildProcess([] {
        const Bytes text = repetitiveText(70000, 32);
        expectRoundTrips({
            {"level 1 with the word transform", text, withWrt(optionsAt(1))},
            {"level 3 with the word transform", text, withWrt(optionsAt(3))},
            {"level 4 with the word transform, no trailers", text, withoutTrailers(withWrt(optionsAt(4)))},
        });
        // The inverse ran on the device.
        EXPECT_GE(lastLaunch("kvnWrtDecodeFusedKernel").count, 3u);
    });
}

TEST(CudaDecodesTransformedFrames, BytePlanes) {
    inChildProcess([] {
        const Bytes samples = samples16(20000);
        const Bytes odd_tail = concat({samples16(9000), Bytes{1, 2, 3}});
        expectRoundTrips({
            {"level 1, stride 2", samples, withStride(optionsAt(1), 2)},
            {"level 3, stride 4", samples, withStride(optionsAt(3), 4)},
            {"level 5, automatic stride", samples, withStride(withChunkSize(optionsAt(5), 0.0625f), -1)},
            // The encoder may leave a length that is not a multiple of the stride plain.
            {"level 2, stride 2, length not a multiple of it", odd_tail, withStride(optionsAt(2), 2), nullptr, false},
            {"level 4, stride 2, 16384-byte chunks", samples, withStride(withChunkSize(optionsAt(4), 0.0625f), 2)},
        });
    });
}

TEST(CudaDecodesTransformedFrames, SeveralTransformedFrames) {
    inChildProcess([] {
        const FrameSequence sequence = vulkanFrameSequence({
            {repetitiveText(70000, 33), withChunkSize(optionsAt(6), 0.0625f)},
            {samples16(8000), withStride(optionsAt(3), 2)},
            {repetitiveText(20000, 34), withChunkSize(optionsAt(5), 0.0625f)},
        });
        ASSERT_EQ(sequence.status, KVN_STATUS_SUCCESS);
        const Decoded d = cudaDecompress(sequence.frames, sequence.content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == sequence.content);
    });
}

// Without the device inverse (its kernel missing) a word-transform frame
// takes the CPU inverse and still decodes.
TEST(CudaDecodesTransformedFrames, WordTransformWithoutItsKernel) {
    inChildProcess([] {
        standIn().dropKernel("kvnWrtDecodeFusedKernel");
        const Bytes text = repetitiveText(70000, 35);
        expectRoundTrips({{"level 6, CPU inverse", text, withChunkSize(optionsAt(6), 0.0625f)}});
        EXPECT_EQ(lastLaunch("kvnWrtDecodeFusedKernel").count, 0u);
    });
}

// The launches of the Merkle pass so far.
uint64_t merkleLaunches() {
    return lastLaunch("kvnSegHashKernel").count + lastLaunch("kvnChunkCombineKernel").count +
           lastLaunch("kvnMerkleVerdictKernel").count;
}

// A device inverse whose launch the driver refuses leaves the frame to the
// CPU inverse: the call still returns the content, judged on the host. The
// inverse is the last launch of a word-transform frame's decode before its
// Merkle pass.
TEST(CudaDecodesTransformedFrames, WordTransformInverseLaunchRefused) {
    inChildProcess([] {
        const Bytes text = repetitiveText(70000, 37);
        const VulkanFrames frames = vulkanCompress(text, withChunkSize(optionsAt(6), 0.0625f));
        ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
        expectTransforms(frames.bytes, withChunkSize(optionsAt(6), 0.0625f));
        const uint64_t before = standInCounts().launches;
        ASSERT_EQ(cudaDecompress(frames.bytes, text.size()).status, KVN_STATUS_SUCCESS);
        const uint64_t per_decode = standInCounts().launches - before;
        const uint64_t inverses = lastLaunch("kvnWrtDecodeFusedKernel").count;
        const uint64_t judging = merkleLaunches();
        ASSERT_GE(per_decode, 2u + judging);
        ASSERT_EQ(inverses, 1u);
        ASSERT_EQ(judging, 3u);
        standIn().failCall("cuLaunchKernel", int(per_decode - judging - 1), kCuInvalidValue);
        const Decoded d = cudaDecompress(frames.bytes, text.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == text);
        EXPECT_EQ(lastLaunch("kvnWrtDecodeFusedKernel").count, inverses);
        EXPECT_EQ(merkleLaunches(), judging);
        EXPECT_EQ(standInCounts().launches - before, 2 * per_decode - judging - 1);
    });
}

// A Merkle launch the driver refuses after the inverse fails the call with
// the launch's cause: no other road judges a text the device holds.
TEST(CudaDecodesTransformedFrames, WordTransformMerkleLaunchRefused) {
    inChildProcess([] {
        const Bytes text = repetitiveText(70000, 38);
        const VulkanFrames frames = vulkanCompress(text, withChunkSize(optionsAt(6), 0.0625f));
        ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
        const uint64_t before = standInCounts().launches;
        ASSERT_EQ(cudaDecompress(frames.bytes, text.size()).status, KVN_STATUS_SUCCESS);
        const uint64_t per_decode = standInCounts().launches - before;
        standIn().failCall("cuLaunchKernel", int(per_decode - 1), kCuInvalidValue);
        EXPECT_EQ(cudaDecompress(frames.bytes, text.size()).status, KVN_STATUS_DEVICE_CALL_FAILED);
    });
}

// A word-transform decode module the driver refuses is reported once, and
// the frames take the CPU inverse.
TEST(CudaDecodesTransformedFrames, WordTransformModuleRefused) {
    inChildProcess(
        [] {
            standIn().rejectModule("kvnWrtDecodeFusedKernel", 218);
            const Bytes text = repetitiveText(70000, 36);
            expectRoundTrips({{"level 6, module refused", text, withChunkSize(optionsAt(6), 0.0625f)}});
            EXPECT_EQ(lastLaunch("kvnWrtDecodeFusedKernel").count, 0u);
        },
        "\\[gpu-init\\] cuModuleLoadData\\(decode wrt_kernel.ptx\\) failed: CUresult 218; WRT frames fall back to the "
        "CPU inverse");
}

TEST(CudaDecodesTransformedFrames, CorpusSlicesAtLevelsFiveAndSix) {
    if (corpusHead("MANIFEST", 1).empty()) GTEST_SKIP() << "no corpus folder configured (KVN_CORPUS_DIR)";
    inChildProcess([] {
        std::vector<FrameCase> cases;
        // The word transform takes inputs of 64 KiB and more.
        for (const char* file : {"js-jquery.js", "image-mri-16bit.raw", "binary-x86.so"}) {
            const Bytes head = corpusHead(file, 72 * 1024);
            const bool text = std::string(file) == "js-jquery.js";
            for (int level : {5, 6})
                cases.push_back({std::string(file) + " level " + std::to_string(level), head,
                                 withChunkSize(optionsAt(level), 0.0625f), nullptr, text});
            cases.push_back(
                {std::string(file) + " level 3, automatic stride", head, withStride(optionsAt(3), -1), nullptr, false});
        }
        expectRoundTrips(cases);
    });
}

}  // namespace
}  // namespace kvn::test
