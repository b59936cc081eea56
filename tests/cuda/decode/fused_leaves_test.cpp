// The pipelined raw LZ kernel (either form) hashes the Merkle leaves as it decodes; the
// separate leaf pass (two launches) is skipped only where those hashes are
// the frame's leaves, and the verdict holds either way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct LeafCase {
    const char* name;
    Bytes content;
    float sc_group_size;
    bool fused;
};

uint64_t launchesOfDecode(const Bytes& frame, const Bytes& content) {
    const uint64_t before = standInCounts().launches;
    const Decoded d = cudaDecompress(frame, content.size());
    EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
    EXPECT_TRUE(d.bytes == content);
    return standInCounts().launches - before;
}

TEST(CudaFusedLeaves, TheLeafPassIsSkippedOnlyWhereTheFusedHashesAreTheLeaves) {
    inChildProcess([] {
        const LeafCase cases[] = {
            {"one chunk", repetitiveText(40000, 31), 0.25f, true},
            // A 131072-byte chunk: the pipelined kernel's Big form hashes it too.
            {"one large chunk", repetitiveText(100000, 34), 0.5f, true},
            // 65537-byte chunks: not whole words.
            {"one chunk of an odd size", repetitiveText(40000, 32), 65537.0f / 262144, false},
            // Chunk starts the prefix area may change after the decode.
            {"two chunks", repetitiveText(40000, 33), 0.125f, false},
        };
        for (const LeafCase& c : cases) {
            SCOPED_TRACE(c.name);
            CompressOpts opts = optionsAt(1);
            opts.sc_group_size = c.sc_group_size;
            const VulkanFrames frames = vulkanCompress(c.content, opts);
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            const uint64_t pipelined = launchesOfDecode(frames.bytes, c.content);
            setenv("KVN_NO_PIPELINE", "1", 1);
            const uint64_t plain = launchesOfDecode(frames.bytes, c.content);
            unsetenv("KVN_NO_PIPELINE");
            EXPECT_EQ(pipelined + (c.fused ? 2 : 0), plain);
            // A changed root is found by either road.
            Bytes damaged = frames.bytes;
            damaged.back() ^= 1;
            EXPECT_EQ(cudaDecompress(damaged, c.content.size()).status, KVN_STATUS_CORRUPT_FRAME);
        }
    });
}

}  // namespace
}  // namespace kvn::test
