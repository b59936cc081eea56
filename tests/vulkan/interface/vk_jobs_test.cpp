// The synchronous Vulkan-family calls: their check order, and the road each
// takes for host pointers and registered device buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <pthread.h>

#include "family_test_support.h"

namespace kvn::test {
namespace {

using VkJobsTest = FamilyTest;

uint64_t addressOf(const void* p) { return reinterpret_cast<uintptr_t>(p); }

constexpr uint64_t kDeviceOnly = uint64_t{1} << 62;

TEST_F(VkJobsTest, CallsCheckInOrder) {
    void* h = makeFamilyHandle();
    void* other = makeInterfaceHandle();
    uint8_t src[8] = {}, dst[8] = {};
    const uint64_t s = addressOf(src), d = addressOf(dst);
    CompressOpts copts{};
    DecompressOpts dopts{};
    struct Case {
        const char* what;
        int32_t result;
        int32_t expected;
    } cases[] = {
        {"host compress: null handle", kvnCompressHost_vk(nullptr, nullptr, 1, nullptr, 0, nullptr), 1},
        {"host compress: null dst", kvnCompressHost_vk(h, src, 8, nullptr, 8, &copts), 2},
        {"host compress: null src with a length", kvnCompressHost_vk(h, nullptr, 8, dst, 8, &copts), 2},
        {"host compress: null options", kvnCompressHost_vk(h, src, 8, dst, 8, nullptr), 2},
        {"host decompress: null handle", kvnDecompressHost_vk(nullptr, nullptr, 1, nullptr, 0, nullptr), 1},
        {"host decompress: null dst", kvnDecompressHost_vk(h, src, 8, nullptr, 8, &dopts), 2},
        {"host decompress: null src with a length", kvnDecompressHost_vk(h, nullptr, 8, dst, 8, &dopts), 2},
        {"host decompress: null options", kvnDecompressHost_vk(h, src, 8, dst, 8, nullptr), 2},
        {"compress: null handle", kvnCompress_vk(nullptr, 0, 1, 0, 0, nullptr), 1},
        {"compress: other shape", kvnCompress_vk(other, s, 8, d, 8, &copts), 2},
        {"compress: no dst", kvnCompress_vk(h, kDeviceOnly, 8, 0, 8, &copts), 2},
        {"compress: no src with a length", kvnCompress_vk(h, 0, 8, d, 8, &copts), 2},
        {"compress: null options", kvnCompress_vk(h, kDeviceOnly, 8, d, 8, nullptr), 2},
        {"compress: device-only src", kvnCompress_vk(h, kDeviceOnly + 4096, 8, d, 8, &copts), 5},
        {"decompress: null handle", kvnDecompress_vk(nullptr, 0, 1, 0, 0, nullptr), 1},
        {"decompress: other shape", kvnDecompress_vk(other, s, 8, d, 8, &dopts), 2},
        {"decompress: no dst", kvnDecompress_vk(h, kDeviceOnly, 8, 0, 8, &dopts), 2},
        {"decompress: no src with a length", kvnDecompress_vk(h, 0, 8, d, 8, &dopts), 2},
        {"decompress: null options", kvnDecompress_vk(h, kDeviceOnly, 8, d, 8, nullptr), 2},
        {"decompress: device-only src", kvnDecompress_vk(h, kDeviceOnly, 8, d, 8, &dopts), 5},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_EQ(jobLog().jobs_run, 0);
}

TEST_F(VkJobsTest, HostCallsReturnTheJobResultItself) {
    void* h = makeFamilyHandle();
    void* other = makeInterfaceHandle();
    uint8_t src[8] = {}, dst[8] = {};
    CompressOpts copts{};
    DecompressOpts dopts{};
    for (int32_t result : {-3, -6, 0, 1, 5, 1000}) {
        jobLog().result = result;
        EXPECT_EQ(kvnCompressHost_vk(h, src, 8, dst, 8, &copts), result);
        EXPECT_EQ(kvnDecompressHost_vk(other, src, 8, dst, 8, &dopts), result) << "either shape";
        EXPECT_EQ(kvnCompressHost_vk(h, nullptr, 0, dst, 8, &copts), result) << "no source bytes";
    }
    injectThreadStartFailure(0);
    EXPECT_EQ(kvnCompressHost_vk(h, src, 8, dst, 8, &copts), -7);
    injectThreadStartFailure(0);
    EXPECT_EQ(kvnDecompressHost_vk(h, src, 8, dst, 8, &dopts), -7);
}

TEST_F(VkJobsTest, CompressWithoutRegisteredBuffersTakesTheHostRoad) {
    void* h = makeFamilyHandle();
    uint8_t src[8] = {1, 2, 3}, dst[64] = {};
    CompressOpts opts{};
    jobLog().result = 30;
    ASSERT_EQ(kvnCompress_vk(h, addressOf(src), 8, addressOf(dst), 64, &opts), 30);
    const CompressJob& job = jobLog().compress_job;
    EXPECT_EQ(job.src_host, src);
    EXPECT_EQ(job.dst_host, dst);
    EXPECT_EQ(job.dev_src, 0u);
    EXPECT_EQ(job.dev_dst, 0u);
    EXPECT_EQ(family(h).staging, nullptr) << "the host road needs no staging";
}

TEST_F(VkJobsTest, CompressFromARegisteredSourceWritesThroughStagingToTheHost) {
    void* h = makeFamilyHandle();
    ASSERT_EQ(kvnRegisterBuffer_vk(h, 0, 77, 1), 0u);
    uint8_t dst[64] = {};
    CompressOpts opts{};
    jobLog().output = {'K', 'V', 'N', '1', 9, 9};
    jobLog().result = 6;
    ASSERT_EQ(kvnCompress_vk(h, 77, 500, addressOf(dst), 64, &opts), 6);
    const CompressJob& job = jobLog().compress_job;
    EXPECT_EQ(job.src_host, kDeviceSourcePlaceholder);
    EXPECT_EQ(job.src_len, 500u);
    EXPECT_EQ(job.dev_src, 77u);
    EXPECT_EQ(job.dev_dst, 0u);
    EXPECT_EQ(job.dst_host, family(h).staging);
    EXPECT_EQ(job.dst_cap, 64u);
    EXPECT_GE(family(h).staging_cap, 64u);
    EXPECT_EQ(std::memcmp(dst, "KVN1\x09\x09", 6), 0) << "the frames reach the host destination";

    // A failed job copies nothing.
    std::memset(dst, 0, sizeof dst);
    jobLog().result = -3;
    EXPECT_EQ(kvnCompress_vk(h, 77, 500, addressOf(dst), 64, &opts), -3);
    EXPECT_EQ(dst[0], 0);
}

TEST_F(VkJobsTest, CompressToARegisteredDestinationLeavesTheResultOnTheDevice) {
    void* h = makeFamilyHandle();
    ASSERT_EQ(kvnRegisterBuffer_vk(h, 0, 88, 1), 0u);
    uint8_t src[300] = {};
    CompressOpts opts{};
    jobLog().result = 40;
    ASSERT_EQ(kvnCompress_vk(h, addressOf(src), 300, 88, 1000, &opts), 40);
    const CompressJob& job = jobLog().compress_job;
    EXPECT_EQ(job.src_host, src);
    EXPECT_EQ(job.dev_src, 0u);
    EXPECT_EQ(job.dev_dst, 88u);
    EXPECT_EQ(job.dst_host, family(h).staging);
    EXPECT_EQ(job.stream, 0u);

    injectHeapAllocFailure(0);
    EXPECT_EQ(kvnCompress_vk(h, addressOf(src), 300, 88, 5000, &opts), 7) << "staging cannot grow";
    EXPECT_EQ(family(h).staging_cap, 0u);
}

TEST_F(VkJobsTest, DecompressRoads) {
    void* h = makeFamilyHandle();
    ASSERT_EQ(kvnRegisterBuffer_vk(h, 0, 50, 1), 0u);
    ASSERT_EQ(kvnRegisterBuffer_vk(h, 0, 60, 1), 0u);
    uint8_t host[16] = {};
    DecompressOpts opts{};
    opts.record_timings = 1;

    jobLog().result = 12;
    EXPECT_EQ(kvnDecompress_vk(h, addressOf(host), 16, addressOf(host), 16, &opts), 12);
    EXPECT_EQ(jobLog().decode_job.src, host);

    jobLog().result = 900;
    ASSERT_EQ(kvnDecompress_vk(h, 50, 300, 60, 5000, &opts), 900);
    const DeviceDecompressJob& job = jobLog().device_job;
    EXPECT_EQ(job.dev_src, 50u);
    EXPECT_EQ(job.dev_dst, 60u);
    EXPECT_EQ(job.src_len, 300u);
    EXPECT_EQ(job.dst_cap, 5000u);
    EXPECT_EQ(job.stream, 0u);
    EXPECT_EQ(job.opts.record_timings, 1);

    jobLog().result = -6;
    jobLog().fallback = 1;
    EXPECT_EQ(kvnDecompress_vk(h, 50, 300, 60, 5000, &opts), -5) << "the device road asks for the host road";
    jobLog().fallback = 0;

    // One side on the device and one on the host: the device road could not
    // reach the host side, so the call is refused. These refusals come after
    // the argument checks, where a positive value is a decoded size: they are
    // negative.
    const int runs = jobLog().jobs_run;
    EXPECT_EQ(kvnDecompress_vk(h, 50, 300, addressOf(host), 16, &opts), -5);
    EXPECT_EQ(kvnDecompress_vk(h, addressOf(host), 16, 60, 5000, &opts), -5);
    // Sizes the device job cannot hold: a longer source is refused; a larger
    // capacity is clamped, since no result can reach it.
    EXPECT_EQ(kvnDecompress_vk(h, 50, uint64_t{1} << 32, 60, 5000, &opts), -2);
    EXPECT_EQ(jobLog().jobs_run, runs);
    jobLog().result = 1;
    ASSERT_EQ(kvnDecompress_vk(h, 50, UINT32_MAX, 60, uint64_t{1} << 40, &opts), 1);
    EXPECT_EQ(jobLog().device_job.src_len, UINT32_MAX);
    EXPECT_EQ(jobLog().device_job.dst_cap, UINT32_MAX);
}

}  // namespace
}  // namespace kvn::test
