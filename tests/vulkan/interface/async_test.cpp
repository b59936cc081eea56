// The asynchronous calls: the slot state machine with a job that blocks until
// the test lets it go, the start failures, and destroying a handle whose job
// still runs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "family_test_support.h"

namespace kvn::test {
namespace {

using AsyncTest = FamilyTest;

// Waits until the slot's job has stored its result, without collecting it.
void waitUntilDone(const AsyncSlot& slot) {
    while (!slot.done.load(std::memory_order_acquire)) std::this_thread::yield();
}

TEST_F(AsyncTest, CompressSlotGoesEmptyRunningFinishedEmpty) {
    void* h = makeFamilyHandle();
    uint8_t src[300] = {}, dst[400] = {};
    uint64_t size = 0;
    CompressOpts opts{};
    opts.level = 4;
    jobLog().blocking = true;
    jobLog().result = 123;

    EXPECT_EQ(kvnCompressAsyncPoll_vk(h, 1), 0) << "no job yet";
    ASSERT_EQ(kvnCompressAsync_vk(h, src, 300, dst, 400, &size, &opts), 0u);
    EXPECT_EQ(kvnCompressAsync_vk(h, src, 300, dst, 400, &size, &opts), 5u) << "one job per direction";
    EXPECT_EQ(kvnCompressAsyncPoll_vk(h, 0), 5) << "running";
    EXPECT_TRUE(family(h).async_compress.present);
    EXPECT_EQ(size, 0u);

    jobLog().gate.open();
    EXPECT_EQ(kvnCompressAsyncPoll_vk(h, 1), 123);
    EXPECT_EQ(size, 123u);
    EXPECT_EQ(kvnCompressAsyncPoll_vk(h, 1), 0) << "collected";
    EXPECT_EQ(jobLog().jobs_run, 1);

    // The job ran on a worker of the outer thread, with the caller's buffers and options.
    const CompressJob& job = jobLog().compress_job;
    EXPECT_EQ(job.src_host, src);
    EXPECT_EQ(job.src_len, 300u);
    EXPECT_EQ(job.dst_host, dst);
    EXPECT_EQ(job.dst_cap, 400u);
    EXPECT_EQ(job.dev_src, 0u);
    EXPECT_EQ(job.opts.level, 4);
}

TEST_F(AsyncTest, AFinishedJobIsCollectedByTheNextStart) {
    void* h = makeFamilyHandle();
    uint8_t src[10] = {}, dst[10] = {};
    DecompressOpts opts{};
    jobLog().result = 7;
    ASSERT_EQ(kvnDecompressAsync_vk(h, src, 10, dst, 10, &opts), 0u);
    waitUntilDone(family(h).async_decompress);
    jobLog().result = 8;
    ASSERT_EQ(kvnDecompressAsync_vk(h, src, 10, dst, 10, &opts), 0u) << "the finished job is joined";
    EXPECT_EQ(kvnDecompressAsyncPoll_vk(h, 1), 8) << "its result is discarded";
    EXPECT_EQ(jobLog().jobs_run, 2);
}

TEST_F(AsyncTest, FailuresAndRefusalsAreNegativeResultsNeverSizes) {
    void* h = makeFamilyHandle();
    uint8_t src[10] = {}, dst[10] = {};
    uint64_t size = 55;
    CompressOpts copts{};
    DecompressOpts dopts{};
    jobLog().result = -4;
    ASSERT_EQ(kvnCompressAsync_vk(h, src, 10, dst, 10, &size, &copts), 0u);
    EXPECT_EQ(kvnCompressAsyncPoll_vk(h, 1), -4);
    EXPECT_EQ(size, 55u) << "a failed job writes no size";

    // A decompress may start without a destination when its capacity is 0;
    // the job then refuses to run, with a result no caller can take for a size.
    ASSERT_EQ(kvnDecompressAsync_vk(h, src, 10, nullptr, 0, &dopts), 0u);
    EXPECT_EQ(kvnDecompressAsyncPoll_vk(h, 1), -2);
    EXPECT_EQ(jobLog().jobs_run, 1);
}

TEST_F(AsyncTest, StartsAndPollsCheckInOrder) {
    void* h = makeFamilyHandle();
    void* other = makeInterfaceHandle();
    uint8_t src[10] = {}, dst[10] = {};
    uint64_t size = 0;
    CompressOpts copts{};
    DecompressOpts dopts{};
    struct Case {
        const char* what;
        KvnStatus status;
        KvnStatus expected;
    } cases[] = {
        {"compress: null handle", kvnCompressAsync_vk(nullptr, nullptr, 1, nullptr, 0, nullptr, nullptr), 1},
        {"compress: other shape", kvnCompressAsync_vk(other, src, 10, dst, 10, &size, &copts), 2},
        {"compress: null dst", kvnCompressAsync_vk(h, src, 10, nullptr, 0, &size, &copts), 2},
        {"compress: null src with a length", kvnCompressAsync_vk(h, nullptr, 10, dst, 10, &size, &copts), 2},
        {"compress: null options", kvnCompressAsync_vk(h, src, 10, dst, 10, &size, nullptr), 2},
        {"decompress: null handle", kvnDecompressAsync_vk(nullptr, nullptr, 1, nullptr, 1, nullptr), 1},
        {"decompress: other shape", kvnDecompressAsync_vk(other, src, 10, dst, 10, &dopts), 2},
        {"decompress: null src with a length", kvnDecompressAsync_vk(h, nullptr, 10, dst, 10, &dopts), 2},
        {"decompress: null dst with a capacity", kvnDecompressAsync_vk(h, src, 10, nullptr, 10, &dopts), 2},
        {"decompress: null options", kvnDecompressAsync_vk(h, src, 10, dst, 10, nullptr), 2},
        {"compress poll: null handle", KvnStatus(kvnCompressAsyncPoll_vk(nullptr, 1)), 1},
        {"compress poll: other shape", KvnStatus(kvnCompressAsyncPoll_vk(other, 1)), 2},
        {"decompress poll: null handle", KvnStatus(kvnDecompressAsyncPoll_vk(nullptr, 0)), 1},
        {"decompress poll: other shape", KvnStatus(kvnDecompressAsyncPoll_vk(other, 0)), 2},
    };
    for (const Case& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
    EXPECT_EQ(jobLog().jobs_run, 0);
    EXPECT_FALSE(family(h).async_compress.present);
    EXPECT_FALSE(family(h).async_decompress.present);
}

TEST_F(AsyncTest, AStartThatCannotBeginLeavesTheSlotEmpty) {
    void* h = makeFamilyHandle();
    uint8_t src[10] = {}, dst[10] = {};
    uint64_t size = 0;
    CompressOpts copts{};
    DecompressOpts dopts{};

    injectHeapAllocFailure(0);  // the job's copy
    EXPECT_EQ(kvnCompressAsync_vk(h, src, 10, dst, 10, &size, &copts), 7u);
    EXPECT_EQ(kvnCompressAsyncPoll_vk(h, 1), 0);
    injectHeapAllocFailure(0);
    EXPECT_EQ(kvnDecompressAsync_vk(h, src, 10, dst, 10, &dopts), 7u);
    EXPECT_EQ(kvnDecompressAsyncPoll_vk(h, 1), 0);

    injectThreadStartFailure(0);  // the outer thread
    EXPECT_EQ(kvnCompressAsync_vk(h, src, 10, dst, 10, &size, &copts), 8u);
    EXPECT_EQ(kvnCompressAsyncPoll_vk(h, 1), 0);
    injectThreadStartFailure(0);
    EXPECT_EQ(kvnDecompressAsync_vk(h, src, 10, dst, 10, &dopts), 8u);
    EXPECT_EQ(kvnDecompressAsyncPoll_vk(h, 1), 0);
    EXPECT_EQ(jobLog().jobs_run, 0);

    // The outer thread starts, its worker cannot: the job reports -7.
    injectThreadStartFailure(1);
    ASSERT_EQ(kvnCompressAsync_vk(h, src, 10, dst, 10, &size, &copts), 0u);
    EXPECT_EQ(kvnCompressAsyncPoll_vk(h, 1), -7);
    injectThreadStartFailure(1);
    ASSERT_EQ(kvnDecompressAsync_vk(h, src, 10, dst, 10, &dopts), 0u);
    EXPECT_EQ(kvnDecompressAsyncPoll_vk(h, 1), -7);
    EXPECT_EQ(jobLog().jobs_run, 0);
}

// Destroying a handle whose jobs still run waits for them: they use the
// handle until they end. Under AddressSanitizer a destroy that did not wait
// would also show as a use after free.
void expectDestroyWaitsForRunningJobs(void (*destroy)(void*)) {
    void* h = nullptr;
    ASSERT_EQ(kvnCreate_vk(&h), 0u);
    uint8_t src[10] = {}, dst[10] = {};
    uint64_t size = 0;
    CompressOpts copts{};
    DecompressOpts dopts{};
    jobLog().blocking = true;
    ASSERT_EQ(kvnCompressAsync_vk(h, src, 10, dst, 10, &size, &copts), 0u);
    ASSERT_EQ(kvnDecompressAsync_vk(h, src, 10, dst, 10, &dopts), 0u);

    std::atomic<int> destroyed_seq{0};
    std::thread destroyer([&] {
        destroy(h);
        destroyed_seq = ++jobLog().seq;
    });
    // Give the destroy the chance to run ahead of the jobs; it must not.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(destroyed_seq.load(), 0);
    jobLog().gate.open();
    destroyer.join();
    EXPECT_EQ(jobLog().jobs_run, 2);
    EXPECT_GT(destroyed_seq.load(), jobLog().finished_seq.load());
}

TEST_F(AsyncTest, DestroyVkWaitsForRunningJobs) { expectDestroyWaitsForRunningJobs(kvnDestroy_vk); }

TEST_F(AsyncTest, DestroyWaitsForRunningJobsToo) {
    expectDestroyWaitsForRunningJobs([](void* h) { kvnDestroy(h); });
}

}  // namespace
}  // namespace kvn::test
