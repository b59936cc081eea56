// Handles used from several threads at once: each thread's compress and
// decompress calls (with trailers and timings, whose device waits end
// streams) must leave the other threads' streams alone, and an asynchronous
// compress and decompress of one handle must not trip over each other's
// timings. Every round trip is exact.
#include <thread>

#include "core/format/compress_bound.h"
#include "encode_test_support.h"

namespace kvn::test {
namespace {

struct Load {
    Bytes input;
    CompressOpts copts{};
    DecompressOpts dopts{};
};

Load loadFor(int index) {
    Load load;
    load.input = realFile(index % 2 ? "/usr/include/stdio.h" : "/usr/include/vulkan/vulkan_core.h",
                          20000 + 7000 * static_cast<uint64_t>(index));
    load.copts.level = 1 + index % 2;
    load.copts.content_checksum = 1;
    load.copts.merkle_root = 1;
    load.copts.record_timings = 1;
    load.dopts.record_timings = 1;
    return load;
}

// Compresses and restores `load` on `handle` `rounds` times; the number of
// calls that failed or restored other bytes.
int roundTrips(void* handle, const Load& load, int rounds) {
    int bad = 0;
    Bytes frame(compressBound(load.input.size()));
    Bytes restored(load.input.size() + 16);
    for (int round = 0; round < rounds; ++round) {
        uint64_t size = 0;
        if (kvnCompressHost(handle, load.input.data(), load.input.size(), frame.data(), frame.size(), &size,
                            &load.copts) != 0) {
            ++bad;
            continue;
        }
        uint64_t out = 0;
        if (kvnDecompressHost(handle, frame.data(), size, restored.data(), restored.size(), &out, &load.dopts) != 0 ||
            out != load.input.size() || !std::equal(load.input.begin(), load.input.end(), restored.begin()))
            ++bad;
        uint64_t count = 0;
        if (kvnGetLastTimings(handle, nullptr, 0, &count) != 0) ++bad;
    }
    return bad;
}

TEST(ThreadsTest, HandlesOnSeveralThreadsRoundTripExactly) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no encode or decode kernels yet";
    constexpr int kThreads = 4;
    void* handles[kThreads] = {};
    for (void*& h : handles) ASSERT_EQ(kvnCreate(&h), 0u);
    int bad[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { bad[t] = roundTrips(handles[t], loadFor(t), 4); });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(bad[t], 0) << "thread " << t;
        kvnDestroy(handles[t]);
    }
}

TEST(ThreadsTest, AsyncCompressAndDecompressOfOneHandleWithTimings) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no encode or decode kernels yet";
    void* h = nullptr;
    ASSERT_EQ(kvnCreate_vk(&h), 0u);
    const Load a = loadFor(0);
    const Load b = loadFor(1);
    // b's frame, made beforehand; a is compressed while b's frame is decoded.
    Bytes b_frame(compressBound(b.input.size()));
    uint64_t b_size = 0;
    ASSERT_EQ(kvnCompressHost(h, b.input.data(), b.input.size(), b_frame.data(), b_frame.size(), &b_size, &b.copts),
              0u);
    Bytes a_frame(compressBound(a.input.size()));
    Bytes restored(b.input.size());
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        uint64_t a_size = 0;
        ASSERT_EQ(kvnCompressAsync_vk(h, a.input.data(), a.input.size(), a_frame.data(), a_frame.size(), &a_size,
                                      &a.copts),
                  0u);
        ASSERT_EQ(kvnDecompressAsync_vk(h, b_frame.data(), b_size, restored.data(), restored.size(), &b.dopts), 0u);
        EXPECT_EQ(kvnDecompressAsyncPoll_vk(h, 1), static_cast<int32_t>(b.input.size()));
        const int32_t compressed = kvnCompressAsyncPoll_vk(h, 1);
        EXPECT_GT(compressed, 0);
        EXPECT_EQ(static_cast<uint64_t>(compressed), a_size);
        EXPECT_TRUE(restored == b.input);
        uint64_t count = 0;
        EXPECT_EQ(kvnGetLastTimings(h, nullptr, 0, &count), 0u);
        EXPECT_GT(count, 0u);
    }
    Bytes a_restored(a.input.size());
    uint64_t out = 0;
    uint64_t a_size = 0;
    ASSERT_EQ(kvnCompressHost(h, a.input.data(), a.input.size(), a_frame.data(), a_frame.size(), &a_size, &a.copts),
              0u);
    EXPECT_EQ(kvnDecompressHost(h, a_frame.data(), a_size, a_restored.data(), a_restored.size(), &out, &a.dopts), 0u);
    EXPECT_TRUE(a_restored == a.input);
    kvnDestroy(h);
}

}  // namespace
}  // namespace kvn::test
