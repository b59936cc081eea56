#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::readyOps;

uint64_t registrySize(DeviceBufferHandle handle) { return lookupBuffer(handle)->size; }

TEST(DeviceBuffers, RegistryRoundsSizesAndReusesFreedEntries) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t a = 0, b = 0, c = 0, zero = 0;
        ASSERT_EQ(ops.memAlloc(&a, 5), Error::None);
        ASSERT_EQ(ops.memAlloc(&b, 4096), Error::None);
        EXPECT_EQ(a, 1u);
        EXPECT_EQ(b, 2u);
        EXPECT_EQ(registrySize(a), 8u);
        EXPECT_EQ(registrySize(b), 4096u);

        // The lowest freed entry is taken before the list grows.
        EXPECT_EQ(ops.memFree(a), Error::None);
        EXPECT_FALSE(lookupBuffer(a));
        ASSERT_EQ(ops.memAlloc(&c, 12), Error::None);
        EXPECT_EQ(c, a);
        EXPECT_EQ(registrySize(c), 12u);

        // A zero-byte request still names a real buffer that copies can use.
        ASSERT_EQ(ops.memAlloc(&zero, 0), Error::None);
        EXPECT_EQ(registrySize(zero), 4u);
        const uint8_t in[4] = {9, 8, 7, 6};
        uint8_t out[4] = {};
        EXPECT_EQ(ops.memcpyHtoD(zero, in, 4), Error::None);
        EXPECT_EQ(ops.memcpyDtoH(out, zero, 4), Error::None);
        EXPECT_EQ(std::memcmp(in, out, 4), 0);
        EXPECT_NE(bufferDeviceAddress(zero), 0u);

        // Freeing nothing, a handle beyond the registry or a freed one is harmless.
        EXPECT_EQ(ops.memFree(0), Error::None);
        EXPECT_EQ(ops.memFree(999), Error::None);
        EXPECT_EQ(ops.memFree(zero), Error::None);
        EXPECT_EQ(ops.memFree(zero), Error::None);
        EXPECT_EQ(bufferDeviceAddress(zero), 0u);
        EXPECT_EQ(bufferDeviceAddress(0), 0u);
        EXPECT_EQ(ops.memcpyHtoD(0, in, 4), Error::BadRequest);
        EXPECT_EQ(ops.memcpyHtoD(zero, in, 4), Error::BadRequest);
    });
}

TEST(DeviceBuffers, AllocationFailureIsReportedWithTheHeapsWhenAsked) {
    // A buffer beyond the device's limits is itself a validation error.
    if (test::underValidationLayer()) GTEST_SKIP() << "asks for a buffer the layer refuses";
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        setenv("KVN_VK_INIT_DEBUG", "1", 1);
        uint64_t handle = 0;
        testing::internal::CaptureStderr();
        // Far beyond any heap: refused twice, reported, registry untouched.
        const Error rc = ops.memAlloc(&handle, uint64_t{1} << 50);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, Error::OutOfDeviceMemory);
        EXPECT_EQ(handle, 0u);
        EXPECT_EQ(printed.rfind("[vk-alloc] vmaCreateBuffer rc=", 0), 0u) << printed;
        EXPECT_NE(printed.find(" size=1125899906842624 dedicated=true sharing=0 qfs=0\n"), std::string::npos)
            << printed;
        EXPECT_NE(printed.find("[vk-alloc]   type 0: heap=0 flags=0x"), std::string::npos) << printed;
        EXPECT_TRUE(vulkanContext().buffers.empty());
    });
}

TEST(DeviceBuffers, MemoryInformationCountsDeviceLocalHeaps) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t free_bytes = 1, total_bytes = 1;
        ASSERT_EQ(ops.memGetInfo(&free_bytes, &total_bytes), Error::None);
        uint64_t expected_total = 0;
        const VkPhysicalDeviceMemoryProperties& p = vulkanContext().memory_properties;
        for (uint32_t h = 0; h < p.memoryHeapCount; ++h)
            if (p.memoryHeaps[h].flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT) expected_total += p.memoryHeaps[h].size;
        EXPECT_EQ(total_bytes, expected_total);
        EXPECT_LE(free_bytes, total_bytes);
    });
}

TEST(DeviceFills, FillWholeWordsFromTheStartAndRefuseOverlongCounts) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t small = 0, big = 0, stream = 0;
        ASSERT_EQ(ops.memAlloc(&small, 5), Error::None);
        ASSERT_EQ(ops.memAlloc(&big, 64), Error::None);
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        uint8_t bytes[64];

        // Count 5 on an 8-byte buffer: the rounded count is not below the size, so all of it.
        ASSERT_EQ(ops.memsetD8(small, 0x1AB, 5), Error::None);
        ASSERT_EQ(ops.memcpyDtoH(bytes, small, 8), Error::None);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(bytes[i], 0xAB) << i;

        // Count 5 on 64 bytes: whole words up to byte 8, nothing after.
        ASSERT_EQ(ops.memsetD8(big, 0, 64), Error::None);
        ASSERT_EQ(ops.memsetD8(big, 0x11, 5), Error::None);
        ASSERT_EQ(ops.memcpyDtoH(bytes, big, 64), Error::None);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(bytes[i], i < 8 ? 0x11 : 0) << i;

        // On a stream the fill lands when the stream ends.
        ASSERT_EQ(ops.memsetD8Async(big, 0x22, 64, stream), Error::None);
        ASSERT_EQ(ops.memcpyDtoHAsync(bytes, big, 64, stream), Error::None);
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(bytes[i], 0x22) << i;

        EXPECT_EQ(ops.memsetD8(small, 0, 9), Error::BadRequest);
        EXPECT_EQ(ops.memsetD8Async(big, 0, 65, stream), Error::BadRequest);
        EXPECT_EQ(ops.memsetD8(small, 0, 0), Error::None);
        EXPECT_EQ(ops.memsetD8(0, 0, 1), Error::BadRequest);
        EXPECT_EQ(ops.memsetD8Async(big, 0x33, 0, stream), Error::None);
        EXPECT_EQ(ops.streamSynchronize(stream), Error::None);
        ASSERT_EQ(ops.memcpyDtoH(bytes, big, 4), Error::None);
        EXPECT_EQ(bytes[0], 0x22);
    });
}

TEST(HostAllocations, OnlyHandedOutPointersAreFreedAndOnlyOnce) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        void* pages = nullptr;
        void* empty = nullptr;
        ASSERT_EQ(ops.memAllocHost(&pages, 5000), Error::None);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % 4096, 0u);
        std::memset(pages, 0x5A, 8192);  // rounded up to whole pages
        ASSERT_EQ(ops.memAllocHost(&empty, 0), Error::None);
        EXPECT_NE(empty, nullptr);
        ASSERT_EQ(vulkanContext().host_allocations.size(), 2u);
        EXPECT_EQ(vulkanContext().host_allocations[0].size, 8192u);

        int on_stack = 0;
        EXPECT_EQ(ops.memFreeHost(&on_stack), Error::BadRequest);
        EXPECT_EQ(ops.memFreeHost(static_cast<uint8_t*>(pages) + 4096), Error::BadRequest);
        EXPECT_EQ(ops.memFreeHost(pages), Error::None);
        EXPECT_EQ(ops.memFreeHost(pages), Error::BadRequest);
        EXPECT_EQ(ops.memFreeHost(empty), Error::None);
        EXPECT_EQ(ops.memFreeHost(empty), Error::BadRequest);
        EXPECT_TRUE(vulkanContext().host_allocations.empty());
    });
}

}  // namespace
}  // namespace kvn
