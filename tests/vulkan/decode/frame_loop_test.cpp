// The frame loop around the frame decoder: the one retry after a checksum
// mismatch, the "multi-frame total" timing entry, the Vulkan-family host and
// asynchronous calls on real frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "decode_test_support.h"
#include "vulkan/decode/frame_loop.h"

namespace kvn::test {
namespace {

using Bytes = std::vector<uint8_t>;

ref::FrameOptions checked() {
    ref::FrameOptions o;
    o.checksum = true;
    o.merkle_root = true;
    return o;
}

TEST(FrameLoop, OneRetryAfterAChecksumMismatch) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(30000);
        const Bytes frames = concat({storedFrame(text, checked()), storedFrame(text, checked())});
        EXPECT_EQ(kvnGetPipelineRetries(handle.get()), 0u);

        injectChecksumFaults(1);  // the first attempt of the first frame fails
        Decoded d = decodeHost(handle.get(), frames, 60064);
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == concat({text, text}));
        EXPECT_EQ(kvnGetPipelineRetries(handle.get()), 1u);

        injectChecksumFaults(2);  // the retry fails too: the decode fails
        d = decodeHost(handle.get(), frames, 60064);
        EXPECT_EQ(d.status, KVN_STATUS_CORRUPT_FRAME);
        EXPECT_EQ(kvnGetPipelineRetries(handle.get()), 2u);

        // A frame that is really damaged is retried once as well, then fails.
        Bytes damaged = storedFrame(text, checked());
        damaged[200] ^= 1;
        injectChecksumFaults(0);
        EXPECT_EQ(decodeHost(handle.get(), damaged, 30064).status, KVN_STATUS_CORRUPT_FRAME);
        EXPECT_EQ(kvnGetPipelineRetries(handle.get()), 3u);

        // Counted per handle.
        ChildHandle other;
        EXPECT_EQ(kvnGetPipelineRetries(other.get()), 0u);
    });
}

TEST(FrameLoop, EverySuccessLeavesOneMultiFrameTotal) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(10000);
        const Bytes frames = concat({storedFrame(text), storedFrame(text), storedFrame(text)});
        for (bool timings : {false, true}) {
            const Decoded d = decodeHost(handle.get(), frames, 30064, timings);
            ASSERT_EQ(d.status, KVN_STATUS_SUCCESS);
            TimingEntry entries[4] = {};
            uint64_t count = 0;
            ASSERT_EQ(kvnGetLastTimings(handle.get(), entries, 4, &count), KVN_STATUS_SUCCESS);
            ASSERT_EQ(count, 1u) << "timings " << timings;
            EXPECT_STREQ(entries[0].label, "multi-frame total");
            EXPECT_EQ(entries[0].milliseconds, 0.0f) << "stored blocks run no kernel";
        }
        // A failed decode keeps what the failing frame left, not a total.
        Bytes damaged = storedFrame(text, checked());
        damaged[100] ^= 1;
        ASSERT_EQ(decodeHost(handle.get(), damaged, 10064).status, KVN_STATUS_CORRUPT_FRAME);
        uint64_t count = 9;
        ASSERT_EQ(kvnGetLastTimings(handle.get(), nullptr, 0, &count), KVN_STATUS_SUCCESS);
        EXPECT_EQ(count, 0u);
    });
}

TEST(FrameLoop, VulkanFamilyHostAndAsynchronousCalls) {
    inChildProcess([] {
        readyOps();
        void* handle = nullptr;
        ASSERT_EQ(kvnCreate_vk(&handle), KVN_STATUS_SUCCESS);
        const Bytes text = realBytes(50000, 3);
        const Bytes frame = storedFrame(text, checked());
        Bytes dst(50064);
        DecompressOpts opts{};

        EXPECT_EQ(kvnDecompressHost_vk(handle, frame.data(), frame.size(), dst.data(), dst.size(), &opts), 50000);
        EXPECT_EQ(std::memcmp(dst.data(), text.data(), text.size()), 0);
        EXPECT_EQ(kvnDecompressHost_vk(handle, frame.data(), frame.size(), dst.data(), 100, &opts),
                  -KVN_STATUS_BUFFER_TOO_SMALL);

        std::fill(dst.begin(), dst.end(), 0);
        ASSERT_EQ(kvnDecompressAsync_vk(handle, frame.data(), frame.size(), dst.data(), dst.size(), &opts),
                  KVN_STATUS_SUCCESS);
        EXPECT_EQ(kvnDecompressAsyncPoll_vk(handle, 1), 50000);
        EXPECT_EQ(std::memcmp(dst.data(), text.data(), text.size()), 0);
        EXPECT_EQ(kvnDecompressAsyncPoll_vk(handle, 1), 0) << "collected";

        Bytes damaged = frame;
        damaged[300] ^= 4;
        ASSERT_EQ(kvnDecompressAsync_vk(handle, damaged.data(), damaged.size(), dst.data(), dst.size(), &opts),
                  KVN_STATUS_SUCCESS);
        EXPECT_EQ(kvnDecompressAsyncPoll_vk(handle, 1), -KVN_STATUS_CORRUPT_FRAME);

        ASSERT_EQ(kvnDecompressAsync_vk(handle, frame.data(), frame.size(), nullptr, 0, &opts), KVN_STATUS_SUCCESS);
        // Refused as a negated status, which no byte count can be mistaken for.
        EXPECT_EQ(kvnDecompressAsyncPoll_vk(handle, 1), -KVN_STATUS_INVALID_ARGUMENT) << "no destination";
        kvnDestroy_vk(handle);
    });
}

}  // namespace
}  // namespace kvn::test
