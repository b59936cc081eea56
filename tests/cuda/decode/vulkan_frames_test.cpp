// Frames the Vulkan library writes (levels 1 to 4, stored blocks,
// dictionaries, both trailers, several frames) decode through the CUDA
// library on the stand-in driver to the original bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cuda/decode/frame_cases.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

TEST(CudaDecodesVulkanFrames, EveryLevelWithBothTrailers) {
    inChildProcess([] {
        const Bytes text = repetitiveText(40000, 1);
        std::vector<FrameCase> cases;
        for (int level : {1, 2, 3, 4}) cases.push_back({"level " + std::to_string(level), text, optionsAt(level)});
        cases.push_back({"level 2, no trailers", text, withoutTrailers(optionsAt(2))});
        cases.push_back({"level 3, no trailers", text, withoutTrailers(optionsAt(3))});
        expectRoundTrips(cases);
    });
}

// 131072-byte chunks (above 65536) and 16384-byte chunks, raw and entropy-coded.
TEST(CudaDecodesVulkanFrames, LargeAndSmallChunks) {
    inChildProcess([] {
        const Bytes text = repetitiveText(150000, 2);
        expectRoundTrips({
            {"level 1, 131072-byte chunks", text, withChunkSize(optionsAt(1), 0.5f)},
            {"level 3, 131072-byte chunks", text, withChunkSize(optionsAt(3), 0.5f)},
            {"level 2, 16384-byte chunks", text, withChunkSize(optionsAt(2), 0.0625f)},
            {"level 4, 16384-byte chunks", text, withChunkSize(optionsAt(4), 0.0625f)},
        });
    });
}

TEST(CudaDecodesVulkanFrames, StoredBlocksAndMixedContent) {
    inChildProcess([] {
        const Bytes noise = noiseBytes(30000, 3);
        const Bytes mixed = concat({repetitiveText(20000, 4), noiseBytes(20000, 5), Bytes(9000, 'z')});
        expectRoundTrips({
            {"level 1, noise", noise, optionsAt(1)},
            {"level 3, noise", noise, optionsAt(3)},
            {"level 2, text, noise, one byte", mixed, optionsAt(2)},
            {"level 4, text, noise, one byte", mixed, optionsAt(4)},
            {"level 1, a few bytes", Bytes{'a', 'b', 'c'}, optionsAt(1)},
        });
    });
}

TEST(CudaDecodesVulkanFrames, Dictionaries) {
    inChildProcess([] {
        const Bytes text = repetitiveText(30000, 6);
        const Bytes user = repetitiveText(8000, 6);
        expectRoundTrips({
            {"level 2, built-in dictionary 1", text, withDictionary(optionsAt(2), 1)},
            {"level 3, built-in dictionary 3", text, withDictionary(optionsAt(3), 3)},
            {"level 1, user dictionary", text, optionsAt(1), &user},
            {"level 4, user dictionary", text, optionsAt(4), &user},
        });
    });
}

TEST(CudaDecodesVulkanFrames, SeveralFramesOfDifferentLevels) {
    inChildProcess([] {
        const FrameSequence sequence = vulkanFrameSequence({
            {repetitiveText(25000, 7), optionsAt(1)},
            {noiseBytes(5000, 8), optionsAt(3)},
            {repetitiveText(12000, 9), withoutTrailers(optionsAt(4))},
        });
        ASSERT_EQ(sequence.status, KVN_STATUS_SUCCESS);
        const Decoded d = cudaDecompress(sequence.frames, sequence.content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == sequence.content);
    });
}

TEST(CudaDecodesVulkanFrames, CorpusSlicesAtEveryLevel) {
    if (corpusHead("MANIFEST", 1).empty()) GTEST_SKIP() << "no corpus folder configured (KVN_CORPUS_DIR)";
    inChildProcess([] {
        std::vector<FrameCase> cases;
        for (const char* file : {"js-jquery.js", "image-mri-16bit.raw", "binary-x86.so"}) {
            const Bytes head = corpusHead(file, 48 * 1024);
            for (int level : {1, 2, 3, 4})
                cases.push_back({std::string(file) + " level " + std::to_string(level), head, optionsAt(level)});
        }
        expectRoundTrips(cases);
    });
}

}  // namespace
}  // namespace kvn::test
