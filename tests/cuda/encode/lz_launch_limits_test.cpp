// How the CUDA library sizes the LZ stage: the block cap from the device's
// multiprocessors and L2 cache, and the variables KVN_LZ_BLOCKS,
// KVN_HASH_BITS and KVN_FORCE_BATCH, seen in the stand-in's launches of the
// LZ kernel; every frame still decodes to the caller's bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pipeline/device/backend_hooks.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct DeviceCase {
    int sm_count;  // 0: the device reports none
    int l2_bytes;  // 0: the device reports none
    const char* lz_blocks;  // KVN_LZ_BLOCKS, or null
    uint64_t table_bytes;
    uint64_t cap;
};

void setOrClear(const char* name, const char* value) {
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

TEST(CudaLzBlockCap, FromTheDevicesMultiprocessorsAndL2) {
    const DeviceCase cases[] = {
        // 55% of 40 MiB holds 176 pairs of 64 KiB tables; at least 5 per multiprocessor.
        {80, 40 << 20, nullptr, 65536, 400},
        // The stand-in's defaults: 17 pairs fit, 5 x 8 blocks at least.
        {8, 4 << 20, nullptr, 65536, 40},
        // Between the bounds: 70 pairs of 16 KiB tables fit.
        {8, 4 << 20, nullptr, 16384, 70},
        // Small tables in a large cache: at most 16 per multiprocessor.
        {8, 64 << 20, nullptr, 4096, 128},
        // A device that reports neither is taken as 34 multiprocessors and 32 MiB.
        {0, 0, nullptr, 65536, 170},
        {8, 4 << 20, "3", 65536, 3},
        {80, 40 << 20, "0", 65536, 400},
        {80, 40 << 20, "many", 65536, 400},
    };
    for (const DeviceCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.sm_count) + " SMs, " + std::to_string(c.l2_bytes) + " bytes of L2, " +
                     std::to_string(c.table_bytes) + "-byte tables");
        inChildProcess([&] {
            standIn().setSmCount(c.sm_count);
            standIn().setL2Bytes(c.l2_bytes);
            setOrClear("KVN_LZ_BLOCKS", c.lz_blocks);
            void* handle = nullptr;
            ASSERT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
            EXPECT_EQ(lzBlockCap(c.table_bytes), c.cap);
            kvnDestroy(handle);
        });
    }
}

// 20 chunks of 1024 bytes: one sub-chunk each, parsed with 16-bit tables.
constexpr float kSmallChunks = 1.0f / 256;
constexpr const char* kLzKernel = "kvnLzEncodeGreedy16Kernel";
// The LZ kernel's parameters: four buffers, the sub-chunk count, the hash bits.
constexpr int kCountArgument = 4;
constexpr int kHashBitsArgument = 5;

struct LaunchCase {
    std::string name;
    std::vector<std::pair<const char*, const char*>> env;
    int level;
    bool dictionary;
    uint64_t launches;
    unsigned grid_x;
    uint32_t last_count;
    uint32_t hash_bits;
};

TEST(CudaLzLaunches, SwitchesOnTheStandInsDevice) {
    // The stand-in's 8 multiprocessors and 4 MiB of L2 cap level 1's 32 KiB
    // tables at 40 blocks: the 20 one-sub-chunk groups take 20 tables.
    const std::vector<LaunchCase> cases = {
        {"defaults", {}, 1, false, 1, 20, 20, 14},
        {"two blocks", {{"KVN_LZ_BLOCKS", "2"}}, 1, false, 1, 4, 20, 14},
        {"12 hash bits", {{"KVN_HASH_BITS", "12"}}, 1, false, 1, 20, 20, 12},
        {"17 hash bits, level 3", {{"KVN_HASH_BITS", "17"}}, 3, false, 1, 20, 20, 17},
        {"9 hash bits", {{"KVN_HASH_BITS", "9"}}, 1, false, 1, 20, 20, 14},
        {"23 hash bits", {{"KVN_HASH_BITS", "23"}}, 2, false, 1, 20, 20, 16},
        // A dictionary's table keeps the level's bits, and so do its lookups.
        {"20 hash bits, dictionary", {{"KVN_HASH_BITS", "20"}}, 1, true, 1, 20, 20, 14},
        {"batches of 7", {{"KVN_FORCE_BATCH", "7"}}, 1, false, 3, 12, 6, 14},
        {"batch of 20", {{"KVN_FORCE_BATCH", "20"}}, 1, false, 1, 20, 20, 14},
        {"batch of 0", {{"KVN_FORCE_BATCH", "0"}}, 3, false, 1, 20, 20, 15},
    };
    const Bytes content = repetitiveText(20 * 1024, 21);
    for (const LaunchCase& c : cases) {
        SCOPED_TRACE(c.name);
        inChildProcess([&] {
            for (const auto& [name, value] : c.env) setenv(name, value, 1);
            const CompressOpts opts =
                withDictionary(withChunkSize(optionsAt(c.level), kSmallChunks), c.dictionary ? 1 : 0);
            const CudaFrames frames = cudaCompress(content, opts);
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            const StandInLaunch lz = lastLaunch(kLzKernel);
            EXPECT_EQ(lz.count, c.launches);
            EXPECT_EQ(lz.grid_x, c.grid_x);
            EXPECT_EQ(uint32_t(lz.arguments[kCountArgument]), c.last_count);
            EXPECT_EQ(uint32_t(lz.arguments[kHashBitsArgument]), c.hash_bits);
            const Decoded d = cudaDecompress(frames.bytes, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content);
            EXPECT_EQ(standIn().stickyError(), 0);
        });
    }
}

}  // namespace
}  // namespace kvn::test
