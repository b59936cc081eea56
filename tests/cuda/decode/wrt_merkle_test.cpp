// The Merkle root of a word-transform frame is judged on the device over the
// text the GPU inverse restored: KVN_WRT_DEBUG shows the verdict and the first
// leaves, a damaged root fails the frame, and without the kernels the host
// judges the copied-back text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/format/frame_header.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_road.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/support/device_road.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// The encoder transforms texts of 64 KiB and more.
constexpr size_t kText = 70000;
constexpr uint64_t kUnit = 262144;  // a chunk fraction's unit

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// The leaves by their definition: each chunk's whole words, weighted by
// their offset in the text.
std::vector<uint32_t> leavesOf(const Bytes& text, uint64_t leaf_size) {
    std::vector<uint32_t> leaves;
    for (uint64_t begin = 0; begin < text.size(); begin += leaf_size) {
        const uint64_t end = std::min<uint64_t>(begin + leaf_size, text.size());
        uint32_t leaf = 0;
        for (uint64_t o = begin; o + 4 <= end; o += 4) leaf += (uint32_t(o) + 0x9E3779B1u) * le32(&text[o]);
        leaves.push_back(leaf);
    }
    return leaves;
}

// The line the decode of `frame` over `text` in chunks of `fraction` prints
// with this verdict.
std::string expectedLine(const Bytes& text, const Bytes& frame, float fraction, uint32_t verdict) {
    const uint64_t leaf_size = uint64_t(fraction * kUnit);
    const std::vector<uint32_t> leaves = leavesOf(text, leaf_size);
    char head[160];
    std::snprintf(head, sizeof head,
                  "[wrt-merkle] raw_len=%zu eff=%llu n_chunks=%zu expected=%08x verdict=%u hashes={ ", text.size(),
                  static_cast<unsigned long long>(leaf_size), leaves.size(), le32(&frame[frame.size() - 4]), verdict);
    std::string line = head;
    for (size_t i = 0; i < leaves.size() && i < 16; ++i) line += (i ? ", " : "") + std::to_string(leaves[i]);
    return line + " }\n";
}

// A word-transform frame of the text in chunks of `fraction`, with both
// trailers or none.
Bytes wrtFrame(const Bytes& text, float fraction, bool trailers = true) {
    CompressOpts opts = withChunkSize(optionsAt(1), fraction);
    opts.wrt = 1;
    if (!trailers) opts = withoutTrailers(opts);
    const VulkanFrames frames = vulkanCompress(text, opts);
    EXPECT_EQ(frames.status, KVN_STATUS_SUCCESS);
    const FrameHeader header = parseFrameHeader(frames.bytes.data(), frames.bytes.size());
    EXPECT_TRUE(header.flags & kFrameWrtSection);
    EXPECT_EQ(header.has_merkle_root, trailers);
    return frames.bytes;
}

Decoded decodeWithDebug(const Bytes& frame, uint64_t cap, std::string* lines) {
    setenv("KVN_WRT_DEBUG", "1", 1);
    CaptureStderr();
    const Decoded d = cudaDecompress(frame, cap);
    *lines = GetCapturedStderr();
    unsetenv("KVN_WRT_DEBUG");
    return d;
}

// Twenty leaves show their first sixteen, one leaf itself.
TEST(CudaWrtMerkle, TheDeviceVerdictAndItsLine) {
    inChildProcess([] {
        struct Case {
            const char* name;
            float fraction;
        };
        // 3,584-byte and 128 KiB chunks.
        for (const Case& c : {Case{"twenty leaves", 0.013671875f}, Case{"one leaf", 0.5f}}) {
            SCOPED_TRACE(c.name);
            const Bytes text = repetitiveText(kText, 41);
            const Bytes frame = wrtFrame(text, c.fraction);
            const uint64_t hashes_before = lastLaunch("kvnSegHashKernel").count;
            std::string lines;
            const Decoded d = decodeWithDebug(frame, text.size(), &lines);
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == text);
            EXPECT_EQ(lines, expectedLine(text, frame, c.fraction, 1));
            EXPECT_EQ(lastLaunch("kvnSegHashKernel").count, hashes_before + 1);
        }
        // Nor a line for a frame without a root.
        const Bytes text = repetitiveText(kText, 44);
        std::string lines;
        const Decoded bare = decodeWithDebug(wrtFrame(text, 0.125f, false), text.size(), &lines);
        EXPECT_EQ(bare.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(bare.bytes == text);
        EXPECT_EQ(lines, "");
    });
}

// From device memory too: the device road judges the restored text there
// and prints the same line once the verdict is in.
TEST(CudaWrtMerkle, TheDeviceRoadsLine) {
    inChildProcess([] {
        const Bytes text = repetitiveText(kText, 45);
        const Bytes frame = wrtFrame(text, 0.013671875f);
        DeviceRoad road(kCudaRoad);
        setenv("KVN_WRT_DEBUG", "1", 1);
        CaptureStderr();
        const DeviceDecoded d = road.decode(frame, text.size());
        const std::string lines = GetCapturedStderr();
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == text);
        EXPECT_EQ(lines, expectedLine(text, frame, 0.013671875f, 1));
    });
}

// The device's mismatch fails the frame at once, and again on the frame
// loop's retry: the CPU inverse never stands in for a text the root refuses.
TEST(CudaWrtMerkle, ADamagedRootIsAChecksumMismatch) {
    inChildProcess([] {
        const Bytes text = repetitiveText(kText, 42);
        Bytes frame = wrtFrame(text, 0.125f);
        frame.back() ^= 0x40;
        std::string lines;
        EXPECT_EQ(decodeWithDebug(frame, text.size(), &lines).status, KVN_STATUS_CORRUPT_FRAME);
        const std::string line = expectedLine(text, frame, 0.125f, 2);
        EXPECT_EQ(lines, line + line);
    });
}

// Without a kernel of the pass no device verdict and no line: the host
// judges the text the inverse copied back.
TEST(CudaWrtMerkle, WithoutTheDevicePassTheHostJudges) {
    inChildProcess([] {
        standIn().dropKernel("kvnMerkleVerdictKernel");
        const Bytes text = repetitiveText(kText, 43);
        const Bytes frame = wrtFrame(text, 0.125f);
        std::string lines;
        const Decoded d = decodeWithDebug(frame, text.size(), &lines);
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == text);
        EXPECT_EQ(lines, "");
        EXPECT_EQ(lastLaunch("kvnWrtDecodeFusedKernel").count, 1u);
        EXPECT_EQ(lastLaunch("kvnSegHashKernel").count, 0u);
        Bytes damaged = frame;
        damaged.back() ^= 0x40;
        EXPECT_EQ(decodeWithDebug(damaged, text.size(), &lines).status, KVN_STATUS_CORRUPT_FRAME);
        EXPECT_EQ(lines, "");
    });
}

}  // namespace
}  // namespace kvn::test
