// What the CUDA library's frames may be: a destination below the compress
// bound that holds the frames takes them, a frame has up to 65,536 chunks
// (entropy-coded ones no more sub-chunks than the decoders hold), and the
// frame cap follows the device's memory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/handle/handle.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

// A destination one byte short of the frames is refused (status 3) without
// a byte written past it; one of exactly their size, below the bound, takes
// them.
TEST(CudaFrameLimits, ADestinationOfExactlyTheFrames) {
    inChildProcess([] {
        const Bytes text = repetitiveText(40000, 19);
        for (int level : {1, 3}) {
            SCOPED_TRACE(level);
            const CudaFrames whole = cudaCompress(text, optionsAt(level));
            ASSERT_EQ(whole.status, KVN_STATUS_SUCCESS);
            void* handle = nullptr;
            ASSERT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
            uint64_t bound = 0;
            EXPECT_EQ(kvnCompressBound(handle, text.size(), 0, &bound), KVN_STATUS_SUCCESS);
            kvnDestroy(handle);
            ASSERT_LT(whole.bytes.size(), bound);
            const CudaFrames exact = cudaCompress(text, optionsAt(level), nullptr, whole.bytes.size());
            EXPECT_EQ(exact.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(exact.bytes == whole.bytes);
            EXPECT_EQ(cudaCompress(text, optionsAt(level), nullptr, whole.bytes.size() - 1).status,
                      KVN_STATUS_BUFFER_TOO_SMALL);
        }
    });
}

struct CapCase {
    uint64_t memory;
    int level;
    float fraction;
    const char* frame_cap;  // KVN_FRAME_CAP, or null
    uint64_t cap;
    bool integrated = false;
};

// The cap the encoder keeps after a call; the call's own frame is small.
TEST(CudaFrameLimits, FrameCapFromTheDevicesMemory) {
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    const CapCase cases[] = {
        // Half a GiB per GiB over level 5's 16: 805306368 bytes of 64 KiB chunks.
        {24 * kGiB, 5, 0.25f, nullptr, 805306368},
        // An integrated device's level-5 frames are not held to 64 MiB.
        {24 * kGiB, 5, 0.25f, nullptr, 805306368, true},
        // The stand-in's 1 GiB at level 1: 2^29 / 7 in whole chunks.
        {kGiB, 1, 0.25f, nullptr, 76677120},
        // 36,621 chunks of 16 KiB: more than 16,384 at level 1...
        {kGiB, 1, 0.0625f, "600000000", 599998464},
        // ...but an entropy-coded frame holds at most 32,767 sub-chunks.
        {kGiB, 3, 0.0625f, "600000000", 32767 * 16384},
        {64 * kGiB, 4, 0.0625f, nullptr, 32767 * 16384},
    };
    for (const CapCase& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level) + ", fraction " + std::to_string(c.fraction) + ", " +
                     std::to_string(c.memory) + " bytes");
        inChildProcess([&] {
            standIn().setMemory(c.memory);
            standIn().setIntegrated(c.integrated);
            if (c.frame_cap) setenv("KVN_FRAME_CAP", c.frame_cap, 1);
            void* handle = nullptr;
            ASSERT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
            const Bytes text = repetitiveText(1000, 20);
            CompressOpts opts = withChunkSize(optionsAt(c.level), c.fraction);
            Bytes out(4096);
            uint64_t size = 0;
            kvnCompressHost(handle, text.data(), text.size(), out.data(), out.size(), &size, &opts);
            EXPECT_EQ(static_cast<KvnHandle*>(handle)->encoder.frame_cap, c.cap);
            kvnDestroy(handle);
        });
    }
}

// 65,536 chunks of 8 bytes are one compressed frame (the LZ stage runs),
// which decodes to the caller's bytes.
TEST(CudaFrameLimits, SixtyFiveThousandChunksAreCompressed) {
    inChildProcess([] {
        const Bytes text = repetitiveText(65536 * 8, 22);
        const CudaFrames frames = cudaCompress(text, withChunkSize(optionsAt(1), 8.0f / 262144));
        ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
        EXPECT_EQ(lastLaunch("kvnLzEncodeGreedy16Kernel").count, 1u);
        const Decoded d = cudaDecompress(frames.bytes, text.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == text);
    });
}

}  // namespace
}  // namespace kvn::test
