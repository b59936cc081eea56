// Damaged frames give the CUDA library the statuses the Vulkan library's
// decoder gives, and never a success with other bytes than the content.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/format/frame_header.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
    int64_t cap_change = 0;  // the output capacity's difference from the content size
};

void flip(Bytes& b, size_t at) { b[at] ^= 0x5A; }

const std::vector<Damage>& damages() {
    static const std::vector<Damage> table = {
        {"bad magic", [](Bytes& b) { flip(b, 0); }},
        {"bad version", [](Bytes& b) { flip(b, 4); }},
        {"cut to its header", [](Bytes& b) { b.resize(20); }},
        {"cut in its body", [](Bytes& b) { b.resize(b.size() / 2); }},
        {"one trailer byte short", [](Bytes& b) { b.pop_back(); }},
        {"a body byte changed", [](Bytes& b) { flip(b, b.size() / 2); }},
        {"a body byte changed near its start", [](Bytes& b) { flip(b, 40); }},
        {"Merkle root changed", [](Bytes& b) { flip(b, b.size() - 1); }},
        {"content checksum changed", [](Bytes& b) { flip(b, b.size() - 6); }},
        {"non-zero bytes after the frame", [](Bytes& b) { b.insert(b.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}); }},
        {"output one byte short", [](Bytes&) {}, -1},
    };
    return table;
}

void expectSameStatuses(const char* frame_kind, const CompressOpts& opts, size_t text_bytes = 30000) {
    const Bytes content = concat({repetitiveText(text_bytes, 11), noiseBytes(3000, 12)});
    const VulkanFrames frames = vulkanCompress(content, opts);
    ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
    // The frames carry the transforms under test.
    const FrameHeader header = parseFrameHeader(frames.bytes.data(), frames.bytes.size());
    ASSERT_EQ((header.flags & kFrameWrtSection) != 0, opts.level == 6);
    ASSERT_EQ(header.byte_plane_stride, opts.byte_plane_stride);
    for (const Damage& d : damages()) {
        SCOPED_TRACE(std::string(d.what) + ", " + frame_kind);
        Bytes damaged = frames.bytes;
        d.apply(damaged);
        const uint64_t cap = uint64_t(int64_t(content.size()) + d.cap_change);
        const KvnStatus vulkan = vulkanDecompressStatus(damaged, cap);
        const Decoded cuda = cudaDecompress(damaged, cap);
        EXPECT_EQ(cuda.status, vulkan);
        // Every damage here but bytes after the frame is a failure on both.
        if (std::string(d.what) != "non-zero bytes after the frame") EXPECT_NE(vulkan, KVN_STATUS_SUCCESS);
        if (cuda.status == KVN_STATUS_SUCCESS) EXPECT_TRUE(cuda.bytes == content);
    }
}

TEST(CudaDamagedFrames, StatusesMatchTheVulkanDecoderAtLevel1) {
    inChildProcess([] { expectSameStatuses("level 1", optionsAt(1)); }, "");
}

TEST(CudaDamagedFrames, StatusesMatchTheVulkanDecoderAtLevel3) {
    inChildProcess([] { expectSameStatuses("level 3", optionsAt(3)); }, "");
}

TEST(CudaDamagedFrames, StatusesMatchTheVulkanDecoderAtLevel5) {
    inChildProcess([] { expectSameStatuses("level 5", withChunkSize(optionsAt(5), 0.0625f)); }, "");
}

// The word transform's section sits in the header: damage reaches it too.
// (The transform takes inputs of 64 KiB and more.)
TEST(CudaDamagedFrames, StatusesMatchTheVulkanDecoderForWordTransformFrames) {
    inChildProcess([] { expectSameStatuses("level 6", withChunkSize(optionsAt(6), 0.0625f), 70000); }, "");
}

TEST(CudaDamagedFrames, StatusesMatchTheVulkanDecoderForBytePlaneFrames) {
    CompressOpts opts = optionsAt(2);
    opts.byte_plane_stride = 4;
    inChildProcess([&] { expectSameStatuses("level 2, stride 4", opts); }, "");
}

}  // namespace
}  // namespace kvn::test
