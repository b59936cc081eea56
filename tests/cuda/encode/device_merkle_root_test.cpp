// The Merkle root of a CUDA frame is written into the frame on the device,
// after the chunk-size table, from the leaves the body hashed; with the
// checksum asked too it ends up after the checksum, as on Vulkan. A word-
// transformed frame takes the root of the caller's bytes, hashed on the
// device from the text the transform read. Every frame equals the Vulkan
// library's and decodes on both libraries with its Merkle verdict.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/format/frame_header.h"
#include "core/integrity/merkle.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct RootCase {
    std::string name;
    Bytes content;
    CompressOpts opts;
    uint64_t root_writes;  // launches of the root-writing kernel: one per frame whose body hashed leaves
};

uint32_t lastWord(const Bytes& frames) {
    const size_t n = frames.size();
    return uint32_t(frames[n - 4]) | uint32_t(frames[n - 3]) << 8 | uint32_t(frames[n - 2]) << 16 |
           uint32_t(frames[n - 1]) << 24;
}

CompressOpts merkleOnly(CompressOpts opts) {
    opts.content_checksum = 0;
    return opts;
}

TEST(CudaMerkleRoot, WrittenIntoTheFrameOnTheDevice) {
    const Bytes text = repetitiveText(150000, 31);
    Bytes records;
    for (uint32_t i = 0; i < 20000; ++i)
        for (uint32_t b = 0; b < 4; ++b) records.push_back(uint8_t(b == 0 ? i : b == 1 ? i >> 8 : 0x40 + b));
    CompressOpts planes = optionsAt(1);
    planes.byte_plane_stride = 4;
    const std::vector<RootCase> cases = {
        {"level 1, checksum and root, chunk table", text, optionsAt(1), 1},
        {"level 3, root only, chunk table", text, merkleOnly(optionsAt(3)), 1},
        {"level 2, 16384-byte chunks", text, withChunkSize(optionsAt(2), 0.0625f), 1},
        {"level 4, noise", noiseBytes(70000, 32), optionsAt(4), 1},
        {"level 5, root only", text, merkleOnly(withChunkSize(optionsAt(5), 0.0625f)), 1},
        // The body hashes the planes: the root of the caller's bytes comes from the trailer step.
        {"level 1, byte planes", records, planes, 0},
    };
    for (const RootCase& c : cases) {
        SCOPED_TRACE(c.name);
        inChildProcess([&] {
            const CudaFrames frames = cudaCompress(c.content, c.opts);
            expectVulkanFrames(c.content, c.opts, frames);
            EXPECT_EQ(lastLaunch("kvnMerkleRootWriteKernel").count, c.root_writes);
            const uint64_t leaf = frameChunkSize(c.opts.sc_group_size ? c.opts.sc_group_size : 0.25f);
            EXPECT_EQ(lastWord(frames.bytes), chunkMerkleRoot(c.content.data(), c.content.size(), leaf).root);
        });
    }
}

// Each frame of a split input carries its own root, written on the device.
TEST(CudaMerkleRoot, EveryFrameOfASplitInput) {
    inChildProcess([] {
        setenv("KVN_FRAME_CAP", "65536", 1);
        const Bytes text = repetitiveText(150000, 33);
        const CudaFrames frames = cudaCompress(text, optionsAt(3));
        expectVulkanFrames(text, optionsAt(3), frames);
        EXPECT_EQ(lastLaunch("kvnMerkleRootWriteKernel").count, 3u);
    });
}

// Without the root-writing kernel the trailer step appends the same root.
TEST(CudaMerkleRoot, HostRootWithoutTheKernel) {
    inChildProcess([] {
        standIn().dropKernel("kvnMerkleRootWriteKernel");
        const Bytes text = repetitiveText(150000, 34);
        for (const CompressOpts& opts : {optionsAt(1), merkleOnly(optionsAt(3))}) {
            const CudaFrames frames = cudaCompress(text, opts);
            expectVulkanFrames(text, opts, frames);
        }
        EXPECT_EQ(lastLaunch("kvnMerkleRootWriteKernel").count, 0u);
    });
}

// A word-transformed frame: the root is hashed from the caller's text where
// the transform read it on the device, not from a second upload.
TEST(CudaMerkleRoot, WordTransformHashesTheTextItRead) {
    inChildProcess([] {
        const Bytes text = repetitiveText(70000, 35);
        const CompressOpts opts = withChunkSize(optionsAt(6), 0.0625f);
        const CudaFrames frames = cudaCompress(text, opts);
        const StandInLaunch count = lastLaunch("kvnWrtCountKernel");
        const StandInLaunch hash = lastLaunch("kvnSegHashKernel");
        // The decode judges the restored text with one more.
        expectVulkanFrames(text, opts, frames);
        EXPECT_EQ(lastLaunch("kvnSegHashKernel").count, 2u);
        ASSERT_EQ(count.count, 1u);
        ASSERT_EQ(hash.count, 1u);
        EXPECT_EQ(hash.arguments[0], count.arguments[0]);
        EXPECT_EQ(lastLaunch("kvnMerkleRootWriteKernel").count, 0u);
        EXPECT_EQ(lastWord(frames.bytes), chunkMerkleRoot(text.data(), text.size(), 16384).root);
    });
}

}  // namespace
}  // namespace kvn::test
