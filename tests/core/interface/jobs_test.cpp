// The compress and decompress calls of the common family: their check order,
// the job record each builds, where the job runs, and how its result becomes
// a status.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "core/handle/heap.h"
#include "core/interface/fake_backend.h"
#include "core/platform/platform.h"
#include "korvane.h"

namespace kvn::test {
namespace {

using JobsTest = InterfaceTest;

// One row of a check-order table: the call with some arguments spoiled, and
// the status the first failing check gives.
struct CheckCase {
    std::string what;
    std::function<KvnStatus()> call;
    KvnStatus expected;
};

void expectChecks(const std::vector<CheckCase>& cases) {
    for (const CheckCase& c : cases) {
        const int jobs_before = fakeDevice().jobs_run;
        EXPECT_EQ(c.call(), c.expected) << c.what;
        EXPECT_EQ(fakeDevice().jobs_run, jobs_before) << c.what << ": a refused call ran its job";
    }
}

TEST_F(JobsTest, CompressHostChecksInOrder) {
    void* h = makeHandle();
    uint8_t src[4] = {}, dst[4] = {};
    uint64_t size = 0;
    CompressOpts opts{};
    expectChecks({
        {"null handle wins over everything", [&] { return kvnCompressHost(nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr); }, 1},
        {"null dst", [&] { return kvnCompressHost(h, src, 4, nullptr, 4, &size, &opts); }, 2},
        {"null src, even with length 0", [&] { return kvnCompressHost(h, nullptr, 0, dst, 4, &size, &opts); }, 2},
        {"null out_size", [&] { return kvnCompressHost(h, src, 4, dst, 4, nullptr, &opts); }, 2},
        {"null options", [&] { return kvnCompressHost(h, src, 4, dst, 4, &size, nullptr); }, 2},
    });
}

TEST_F(JobsTest, DecompressHostChecksInOrder) {
    void* h = makeHandle();
    uint8_t src[4] = {}, dst[4] = {};
    uint64_t size = 0;
    DecompressOpts opts{};
    expectChecks({
        {"null handle", [&] { return kvnDecompressHost(nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr); }, 1},
        {"null dst", [&] { return kvnDecompressHost(h, src, 4, nullptr, 4, &size, &opts); }, 2},
        {"null src", [&] { return kvnDecompressHost(h, nullptr, 0, dst, 4, &size, &opts); }, 2},
        {"null out_size", [&] { return kvnDecompressHost(h, src, 4, dst, 4, nullptr, &opts); }, 2},
        {"null options", [&] { return kvnDecompressHost(h, src, 4, dst, 4, &size, nullptr); }, 2},
    });
}

TEST_F(JobsTest, CompressAsyncChecksInOrder) {
    void* h = makeHandle();
    uint64_t size = 0;
    CompressOpts opts{};
    expectChecks({
        {"null handle", [&] { return kvnCompressAsync(nullptr, 0, 0, 0, 0, nullptr, nullptr, 0); }, 1},
        {"no source", [&] { return kvnCompressAsync(h, 0, 200, 2, 400, &size, &opts, 0); }, 2},
        {"no destination", [&] { return kvnCompressAsync(h, 1, 200, 0, 400, &size, &opts, 0); }, 2},
        {"null out_size", [&] { return kvnCompressAsync(h, 1, 200, 2, 400, nullptr, &opts, 0); }, 2},
        {"null options", [&] { return kvnCompressAsync(h, 1, 200, 2, 400, &size, nullptr, 0); }, 2},
        {"128 bytes", [&] { return kvnCompressAsync(h, 1, 128, 2, 400, &size, &opts, 0); }, 5},
        {"2^30 + 1 bytes", [&] { return kvnCompressAsync(h, 1, (uint64_t{1} << 30) + 1, 2, 400, &size, &opts, 0); }, 5},
    });
    injectHeapAllocFailure(0);
    expectChecks({{"staging cannot grow", [&] { return kvnCompressAsync(h, 1, 200, 2, 400, &size, &opts, 0); }, 7}});
}

TEST_F(JobsTest, DecompressAsyncChecksInOrder) {
    void* h = makeHandle();
    DecompressOpts opts{};
    expectChecks({
        {"null handle", [&] { return kvnDecompressAsync(nullptr, 0, 0, 0, 0, nullptr, 0); }, 1},
        {"no source", [&] { return kvnDecompressAsync(h, 0, 10, 2, 10, &opts, 0); }, 2},
        {"no destination", [&] { return kvnDecompressAsync(h, 1, 10, 0, 10, &opts, 0); }, 2},
        {"null options", [&] { return kvnDecompressAsync(h, 1, 10, 2, 10, nullptr, 0); }, 2},
    });
}

TEST_F(JobsTest, HostCallsRunTheirJobOnAWorkerThreadWithTheCallersRecord) {
    void* h = makeHandle();
    const uint8_t src[5] = {1, 2, 3, 4, 5};
    uint8_t dst[64] = {};
    uint64_t size = 0;
    CompressOpts copts{};
    copts.level = 3;
    copts.dict_id = 7;
    fakeDevice().job_result = 33;
    ASSERT_EQ(kvnCompressHost(h, src, 5, dst, 64, &size, &copts), 0u);
    EXPECT_EQ(size, 33u);
    const CompressJob& c = fakeDevice().compress_job;
    EXPECT_FALSE(fakeDevice().job_on_caller_thread);
    EXPECT_GE(fakeDevice().job_stack_bytes, kStack32MiB) << "the drivers keep large records on the stack";
    EXPECT_EQ(c.handle, h);
    EXPECT_EQ(c.src_host, src);
    EXPECT_EQ(c.src_len, 5u);
    EXPECT_EQ(c.dst_host, dst);
    EXPECT_EQ(c.dst_cap, 64u);
    EXPECT_EQ(c.dev_src, 0u);
    EXPECT_EQ(c.dev_dst, 0u);
    EXPECT_EQ(c.stream, 0u);
    EXPECT_EQ(std::memcmp(&c.opts, &copts, sizeof copts), 0);

    DecompressOpts dopts{};
    dopts.record_timings = 1;
    fakeDevice().job_result = 5;
    ASSERT_EQ(kvnDecompressHost(h, dst, 33, dst + 40, 24, &size, &dopts), 0u);
    EXPECT_EQ(size, 5u);
    const DecompressJob& d = fakeDevice().decode_job;
    EXPECT_FALSE(fakeDevice().job_on_caller_thread);
    EXPECT_GE(fakeDevice().job_stack_bytes, kStack32MiB);
    EXPECT_EQ(d.src, dst);
    EXPECT_EQ(d.src_len, 33u);
    EXPECT_EQ(d.dst, dst + 40);
    EXPECT_EQ(d.dst_cap, 24u);
    EXPECT_EQ(d.opts.record_timings, 1);
}

// Without job bodies (the library before its pipelines exist) every job
// reports the device failure it starts with.
TEST_F(JobsTest, AJobWithoutABodyReportsADeviceFailure) {
    backend().runCompressJob = nullptr;
    backend().runDecodeJob = nullptr;
    backend().runDeviceDecodeJob = nullptr;
    void* h = makeHandle();
    uint8_t buf[200] = {};
    uint64_t size = 77;
    CompressOpts copts{};
    DecompressOpts dopts{};
    EXPECT_EQ(kvnCompressHost(h, buf, 10, buf, 200, &size, &copts), 6u);
    EXPECT_EQ(kvnDecompressHost(h, buf, 10, buf, 200, &size, &dopts), 6u);
    EXPECT_EQ(kvnCompressAsync(h, 1, 150, 2, 200, &size, &copts, 0), 6u);
    EXPECT_EQ(kvnDecompressAsync(h, 1, 150, 2, 200, &dopts, 0), 6u);
    EXPECT_EQ(size, 77u);
}

TEST_F(JobsTest, JobResultsBecomeStatusesAndSizes) {
    void* h = makeHandle();
    uint8_t buf[8] = {};
    CompressOpts copts{};
    DecompressOpts dopts{};
    for (int32_t result : {-3, -4, -5, -6, -7}) {
        fakeDevice().job_result = result;
        uint64_t size = 123;
        EXPECT_EQ(kvnCompressHost(h, buf, 8, buf, 8, &size, &copts), KvnStatus(-result));
        EXPECT_EQ(kvnDecompressHost(h, buf, 8, buf, 8, &size, &dopts), KvnStatus(-result));
        EXPECT_EQ(kvnCompressAsync(h, 1, 200, 2, 8, &size, &copts, 0), KvnStatus(-result));
        EXPECT_EQ(kvnDecompressAsync(h, 1, 8, 2, 8, &dopts, 0), KvnStatus(-result));
        EXPECT_EQ(size, 123u) << "a failure wrote a size";
    }
    for (int32_t result : {0, 1, 0x7FFFFFFF}) {
        fakeDevice().job_result = result;
        uint64_t size = 123;
        EXPECT_EQ(kvnCompressHost(h, buf, 8, buf, 8, &size, &copts), 0u);
        EXPECT_EQ(size, uint64_t(result));
        size = 123;
        EXPECT_EQ(kvnDecompressHost(h, buf, 8, buf, 8, &size, &dopts), 0u);
        EXPECT_EQ(size, uint64_t(result));
        size = 123;
        EXPECT_EQ(kvnCompressAsync(h, 1, 200, 2, 8, &size, &copts, 0), 0u);
        EXPECT_EQ(size, uint64_t(result));
        EXPECT_EQ(kvnDecompressAsync(h, 1, 8, 2, 8, &dopts, 0), 0u);
    }
}

TEST_F(JobsTest, AWorkerThreadThatCannotStartIsOutOfMemory) {
    void* h = makeHandle();
    uint8_t buf[8] = {};
    uint64_t size = 0;
    CompressOpts copts{};
    DecompressOpts dopts{};
    injectThreadStartFailure(0);
    EXPECT_EQ(kvnCompressHost(h, buf, 8, buf, 8, &size, &copts), 7u);
    injectThreadStartFailure(0);
    EXPECT_EQ(kvnDecompressHost(h, buf, 8, buf, 8, &size, &dopts), 7u);
    EXPECT_EQ(fakeDevice().jobs_run, 0);
}

TEST_F(JobsTest, CompressAsyncRunsOnTheCallersThreadIntoStaging) {
    void* h = makeHandle();
    uint64_t size = 0;
    CompressOpts opts{};
    opts.level = 2;
    fakeDevice().job_result = 150;
    ASSERT_EQ(kvnCompressAsync(h, 10, 129, 20, 1000, &size, &opts, 9), 0u);
    EXPECT_EQ(size, 150u);
    const CompressJob& c = fakeDevice().compress_job;
    EXPECT_TRUE(fakeDevice().job_on_caller_thread);
    EXPECT_EQ(c.src_host, kDeviceSourcePlaceholder);
    EXPECT_EQ(c.src_len, 129u);
    EXPECT_EQ(c.dst_host, state(h).staging);
    EXPECT_GE(state(h).staging_cap, 1000u);
    EXPECT_EQ(c.dst_cap, 1000u);
    EXPECT_EQ(c.dev_src, 10u);
    EXPECT_EQ(c.dev_dst, 20u);
    EXPECT_EQ(c.stream, 9u);
    EXPECT_EQ(c.opts.level, 2);
    EXPECT_EQ(kvnCompressAsync(h, 10, uint64_t{1} << 30, 20, 1000, &size, &opts, 0), 0u);
}

// Below 1/32 of device memory free, the decoder's buffers make room, even
// for a call that is then refused for its size.
TEST_F(JobsTest, CompressAsyncReleasesDecoderBuffersWhenDeviceMemoryIsShort) {
    void* h = makeHandle();
    uint64_t size = 0;
    CompressOpts opts{};
    struct Case {
        uint64_t free_bytes, total_bytes;
        bool has_info;
        bool released;
    } cases[] = {{31, 1024, true, true}, {32, 1024, true, false}, {0, 0, true, false}, {0, 1024, false, false}};
    for (const Case& c : cases) {
        fakeDevice().mem_free_bytes = c.free_bytes;
        fakeDevice().mem_total_bytes = c.total_bytes;
        fakeDevice().has_mem_get_info = c.has_info;
        fakeDevice().freed_buffers.clear();
        state(h).decoder.device_slots[3] = {77, 100};
        EXPECT_EQ(kvnCompressAsync(h, 1, 128, 2, 400, &size, &opts, 0), 5u);
        EXPECT_EQ(fakeDevice().freed_buffers == std::vector<uint64_t>{77}, c.released)
            << c.free_bytes << " of " << c.total_bytes;
    }
}

TEST_F(JobsTest, DecompressAsyncPassesItsRecordAndReportsFallbackAsUnsupported) {
    void* h = makeHandle();
    DecompressOpts opts{};
    opts.record_timings = 1;
    fakeDevice().job_result = 4000;
    ASSERT_EQ(kvnDecompressAsync(h, 3, 300, 4, 5000, &opts, 8), 0u);
    const DeviceDecompressJob& j = fakeDevice().device_job;
    EXPECT_TRUE(fakeDevice().job_on_caller_thread);
    EXPECT_EQ(j.dev_src, 3u);
    EXPECT_EQ(j.dev_dst, 4u);
    EXPECT_EQ(j.src_len, 300u);
    EXPECT_EQ(j.dst_cap, 5000u);
    EXPECT_EQ(j.stream, 8u);
    EXPECT_EQ(j.opts.record_timings, 1);

    fakeDevice().job_result = -6;
    fakeDevice().job_fallback = 1;
    EXPECT_EQ(kvnDecompressAsync(h, 3, 300, 4, 5000, &opts, 8), 5u);
}

}  // namespace
}  // namespace kvn::test
