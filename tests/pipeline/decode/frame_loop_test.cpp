// The frame loop around the frame decoder: the one retry after a checksum
// mismatch, the "multi-frame total" timing entry, the Vulkan-family host and
// asynchronous calls on real frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "decode_test_support.h"
#include "pipeline/decode/frame_loop.h"

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

// What follows the last frame: the decoder and the total-size call give one
// answer. A tail that starts with the magic is a frame, and one cut off by the
// end of the input is corrupt: dropping it would lose the caller's bytes.
TEST(FrameLoop, TailsAnsweredAlikeByTheDecoderAndTheSizeCall) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(3000);
        const Bytes frame = storedFrame(text, checked());
        const Bytes head(frame.begin(), frame.begin() + 22);
        Bytes refused_header = frame;
        refused_header[4] = 3;  // version
        struct Case {
            const char* what;
            Bytes input;
            KvnStatus status;
        } cases[] = {
            {"13 stray bytes", concat({frame, Bytes(13, 0)}), KVN_STATUS_SUCCESS},
            {"bytes without the magic", concat({frame, Bytes(40, 'z')}), KVN_STATUS_SUCCESS},
            {"a cut copy of the frame's own header", concat({frame, head}), KVN_STATUS_CORRUPT_FRAME},
            {"a frame without its trailers", concat({frame, Bytes(frame.begin(), frame.end() - 8)}),
             KVN_STATUS_CORRUPT_FRAME},
            {"a frame whose header is refused", concat({frame, refused_header}), KVN_STATUS_CORRUPT_FRAME},
        };
        for (const Case& c : cases) {
            const Decoded d = decodeHost(handle.get(), c.input, 2 * text.size() + 64);
            EXPECT_EQ(d.status, c.status) << c.what;
            if (d.status == KVN_STATUS_SUCCESS) {
                EXPECT_TRUE(d.bytes == text) << c.what;
            }
            uint64_t total = 0;
            EXPECT_EQ(kvnGetTotalDecompressedSize(handle.get(), c.input.data(), c.input.size(), &total), c.status)
                << c.what;
            if (c.status == KVN_STATUS_SUCCESS) {
                EXPECT_EQ(total, text.size()) << c.what;
            }
        }
    });
}

// A content size the blocks cannot produce is a damaged header, however large
// it is: not an output the call refuses to hold.
TEST(FrameLoop, ContentSizeBeyondTheBlocksIsACorruptFrame) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(4);
        for (int64_t claimed : {int64_t{5}, int64_t{1} << 31, int64_t{1} << 40}) {
            ref::FrameOptions options;
            options.content_size_value = claimed;
            EXPECT_EQ(decodeHost(handle.get(), storedFrame(text, options), 1024).status, KVN_STATUS_CORRUPT_FRAME)
                << claimed;
        }
    });
}

}  // namespace
}  // namespace kvn::test
