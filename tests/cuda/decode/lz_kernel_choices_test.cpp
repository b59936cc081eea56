// The five LZ decode kernels of the CUDA library: each batch goes to the one
// its streams, its chunk size and KVN_NO_PIPELINE choose, and every choice
// gives the content, whole or in windows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cuda/decode/hand_frames.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/reference/ref_decoder.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

constexpr const char* kLzKernels[] = {"kvnLzDecodeRawPipelinedKernel", "kvnLzDecodeRawPipelinedBigKernel",
                                      "kvnLzDecodeRawKernel", "kvnLzDecodeGeneralPipelinedKernel",
                                      "kvnLzDecodeKernel"};

struct Launches {
    uint64_t of[std::size(kLzKernels)];
};

Launches lzLaunches() {
    Launches l{};
    for (size_t k = 0; k < std::size(kLzKernels); ++k) l.of[k] = lastLaunch(kLzKernels[k]).count;
    return l;
}

// Decodes `frame` to `content` and expects only `kernel` among the LZ kernels.
void expectDecodedWith(const Bytes& frame, const Bytes& content, const std::string& kernel) {
    const Launches before = lzLaunches();
    const Decoded d = cudaDecompress(frame, content.size());
    EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
    EXPECT_TRUE(d.bytes == content);
    const Launches after = lzLaunches();
    for (size_t k = 0; k < std::size(kLzKernels); ++k) {
        SCOPED_TRACE(kLzKernels[k]);
        if (kernel == kLzKernels[k]) EXPECT_GE(after.of[k], before.of[k] + 1);
        else EXPECT_EQ(after.of[k], before.of[k]);
    }
}

struct ChoiceCase {
    const char* name;
    int level;
    float sc_group_size;  // chunk size / 262144
    bool no_pipeline;
    const char* kernel;
};

TEST(CudaLzKernelChoices, EachBatchGoesToItsKernel) {
    inChildProcess([] {
        const Bytes text = repetitiveText(150000, 41);
        const ChoiceCase cases[] = {
            {"raw, 65536-byte chunks", 1, 0.25f, false, "kvnLzDecodeRawPipelinedKernel"},
            {"raw, 131072-byte chunks", 1, 0.5f, false, "kvnLzDecodeRawPipelinedBigKernel"},
            {"raw, 65537-byte chunks", 2, 65537.0f / 262144, false, "kvnLzDecodeRawPipelinedBigKernel"},
            {"raw, no pipeline", 1, 0.5f, true, "kvnLzDecodeRawKernel"},
            {"decoded streams", 3, 0.25f, false, "kvnLzDecodeGeneralPipelinedKernel"},
            {"decoded streams, 131072-byte chunks", 4, 0.5f, false, "kvnLzDecodeGeneralPipelinedKernel"},
            {"decoded streams, no pipeline", 3, 0.25f, true, "kvnLzDecodeKernel"},
        };
        for (const ChoiceCase& c : cases) {
            SCOPED_TRACE(c.name);
            const VulkanFrames frames = vulkanCompress(text, withChunkSize(optionsAt(c.level), c.sc_group_size));
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            if (c.no_pipeline) setenv("KVN_NO_PIPELINE", "1", 1);
            expectDecodedWith(frames.bytes, text, c.kernel);
            unsetenv("KVN_NO_PIPELINE");
        }
    });
}

// Without the CUDA-only forms (a module built without them) the forms they
// stand for decode: the Big form's chunks go to the plain raw kernel, whose
// walk reads both halves of a large sub-chunk.
TEST(CudaLzKernelChoices, WithoutTheCudaOnlyForms) {
    inChildProcess([] {
        standIn().dropKernel("kvnLzDecodeRawPipelinedBigKernel");
        standIn().dropKernel("kvnLzDecodeGeneralPipelinedKernel");
        const Bytes text = repetitiveText(150000, 42);
        const VulkanFrames raw = vulkanCompress(text, withChunkSize(optionsAt(1), 0.5f));
        const VulkanFrames coded = vulkanCompress(text, withChunkSize(optionsAt(3), 0.25f));
        ASSERT_EQ(raw.status, KVN_STATUS_SUCCESS);
        ASSERT_EQ(coded.status, KVN_STATUS_SUCCESS);
        expectDecodedWith(raw.bytes, text, "kvnLzDecodeRawKernel");
        expectDecodedWith(coded.bytes, text, "kvnLzDecodeKernel");
    });
}

// A capped batch in windows and the same batch whole give the content with
// either kernel of decoded streams.
TEST(CudaLzKernelChoices, WindowedAndWholeWithBothKernelsOfDecodedStreams) {
    inChildProcess([] {
        const Bytes frame = fourHuffmanStreamsFrame(300, 3);
        const ref::DecodedFrame reference = ref::decodeFrame(frame, {});
        ASSERT_EQ(reference.error, Error::None);
        for (const bool no_pipeline : {false, true}) {
            SCOPED_TRACE(no_pipeline ? "no pipeline" : "pipelined");
            if (no_pipeline) setenv("KVN_NO_PIPELINE", "1", 1);
            const char* kernel = no_pipeline ? "kvnLzDecodeKernel" : "kvnLzDecodeGeneralPipelinedKernel";
            for (const char* cap : {"", "257"}) {
                SCOPED_TRACE(*cap ? "windows of 257" : "whole");
                if (*cap) setenv("KVN_BATCH_CAP", cap, 1);
                expectDecodedWith(frame, reference.bytes, kernel);
                unsetenv("KVN_BATCH_CAP");
            }
            unsetenv("KVN_NO_PIPELINE");
        }
    });
}

}  // namespace
}  // namespace kvn::test
