// Frames the CUDA library writes from host memory at levels 1 to 4 (greedy
// LZ, Huffman streams, assembly, chunk tables, both trailers) decode to the
// caller's bytes through the CUDA decoder and through the Vulkan library's,
// and equal the Vulkan library's frames for the same bytes and options.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct EncodeCase {
    std::string name;
    Bytes content;
    CompressOpts opts;
    const Bytes* user_dictionary = nullptr;
};

// Each case: the CUDA frames decode on both libraries, and they are the
// Vulkan library's frames byte for byte.
void expectCrossDecoding(const std::vector<EncodeCase>& cases) {
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectVulkanFrames(c.content, c.opts, cudaCompress(c.content, c.opts, c.user_dictionary), c.user_dictionary);
    }
}

TEST(CudaCompress, EveryLevelWithBothTrailers) {
    inChildProcess([] {
        const Bytes text = repetitiveText(40000, 11);
        std::vector<EncodeCase> cases;
        for (int level : {1, 2, 3, 4}) cases.push_back({"level " + std::to_string(level), text, optionsAt(level)});
        expectCrossDecoding(cases);
    });
}

// Stored chunks of bytes that do not shrink, mixed content, chunk sizes
// from 16384 to 131072 bytes, a frame without trailers.
TEST(CudaCompress, StoredChunksMixedContentAndChunkSizes) {
    inChildProcess([] {
        const Bytes noise = noiseBytes(30000, 12);
        const Bytes mixed = concat({repetitiveText(20000, 13), noiseBytes(20000, 14), Bytes(9000, 'z')});
        const Bytes longer = repetitiveText(150000, 15);
        expectCrossDecoding({
            {"level 1, noise", noise, optionsAt(1)},
            {"level 3, noise", noise, optionsAt(3)},
            {"level 2, text, noise, one byte", mixed, optionsAt(2)},
            {"level 4, text, noise, one byte", mixed, optionsAt(4)},
            {"level 2, no trailers", mixed, withoutTrailers(optionsAt(2))},
            {"level 1, 131072-byte chunks", longer, withChunkSize(optionsAt(1), 0.5f)},
            {"level 3, 131072-byte chunks", longer, withChunkSize(optionsAt(3), 0.5f)},
            {"level 4, 16384-byte chunks", longer, withChunkSize(optionsAt(4), 0.0625f)},
        });
    });
}

TEST(CudaCompress, Dictionaries) {
    inChildProcess([] {
        const Bytes text = repetitiveText(30000, 16);
        const Bytes user = repetitiveText(8000, 16);
        expectCrossDecoding({
            {"level 2, built-in dictionary 1", text, withDictionary(optionsAt(2), 1)},
            {"level 3, built-in dictionary 3", text, withDictionary(optionsAt(3), 3)},
            {"level 1, user dictionary", text, optionsAt(1), &user},
            {"level 4, user dictionary", text, optionsAt(4), &user},
        });
    });
}

// A frame cap of 65536 bytes cuts the input into three frames.
TEST(CudaCompress, SeveralFramesUnderAFrameCap) {
    inChildProcess([] {
        setenv("KVN_FRAME_CAP", "65536", 1);
        const Bytes text = repetitiveText(150000, 17);
        expectCrossDecoding({
            {"level 1, three frames", text, optionsAt(1)},
            {"level 3, three frames", text, optionsAt(3)},
        });
    });
}

TEST(CudaCompress, CorpusSlices) {
    if (corpusHead("MANIFEST", 1).empty()) GTEST_SKIP() << "no corpus folder configured (KVN_CORPUS_DIR)";
    inChildProcess([] {
        std::vector<EncodeCase> cases;
        for (const char* file : {"js-jquery.js", "binary-x86.so"}) {
            const Bytes head = corpusHead(file, 48 * 1024);
            for (int level : {1, 3})
                cases.push_back({std::string(file) + " level " + std::to_string(level), head, optionsAt(level)});
        }
        expectCrossDecoding(cases);
    });
}

// The byte-plane transform on the device: a stride the caller names, and
// the automatic choice.
TEST(CudaCompress, BytePlaneFrames) {
    inChildProcess([] {
        Bytes records;
        for (uint32_t i = 0; i < 12000; ++i)
            for (uint32_t b = 0; b < 4; ++b) records.push_back(uint8_t(b == 0 ? i : b == 1 ? i >> 8 : 0x40 + b));
        CompressOpts stride = optionsAt(1);
        stride.byte_plane_stride = 4;
        CompressOpts automatic = optionsAt(3);
        automatic.byte_plane_stride = -1;
        expectCrossDecoding({{"level 1, stride 4", records, stride}, {"level 3, automatic", records, automatic}});
        EXPECT_GE(lastLaunch("kvnBytePlaneDeinterleaveKernel").count, 1u);
    });
}

// Frames of the Vulkan library decode through the CUDA library (the other
// direction of each case above).
TEST(CudaCompress, VulkanFramesDecodeOnCuda) {
    inChildProcess([] {
        const Bytes text = repetitiveText(40000, 18);
        for (int level : {1, 2, 3, 4}) {
            SCOPED_TRACE(level);
            const VulkanFrames frames = vulkanCompress(text, optionsAt(level));
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            const Decoded d = cudaDecompress(frames.bytes, text.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == text);
        }
    });
}

}  // namespace
}  // namespace kvn::test
