#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_support.h"
#include "vulkan/device/staging_buffers.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;

#if !KVN_HAVE_VK_MEM_ALLOC
TEST(MemoryAllocator, MemoryTypeRanking) {
    // A discrete GPU: device memory, two host types (uncached and cached), and
    // a small host-visible window of device memory.
    VkPhysicalDeviceMemoryProperties props{};
    props.memoryTypeCount = 5;
    constexpr VkMemoryPropertyFlags kDevice = VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
    constexpr VkMemoryPropertyFlags kHost = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
    constexpr VkMemoryPropertyFlags kCached = VK_MEMORY_PROPERTY_HOST_CACHED_BIT;
    props.memoryTypes[0] = {kDevice, 0};
    props.memoryTypes[1] = {kHost, 1};
    props.memoryTypes[2] = {kHost | kCached, 1};
    props.memoryTypes[3] = {kDevice | kHost, 0};
    props.memoryTypes[4] = {kDevice | VK_MEMORY_PROPERTY_LAZILY_ALLOCATED_BIT, 0};

    const VmaAllocationCreateFlags kMappedWrite =
        VMA_ALLOCATION_CREATE_MAPPED_BIT | VMA_ALLOCATION_CREATE_HOST_ACCESS_SEQUENTIAL_WRITE_BIT;
    const VmaAllocationCreateFlags kMappedRead =
        VMA_ALLOCATION_CREATE_MAPPED_BIT | VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT;
    const struct {
        const char* what;
        VmaAllocationCreateInfo request;
        uint32_t type_bits;
        std::vector<uint32_t> want;
    } cases[] = {
        {"device buffer", {0, VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE, kDevice, 0, 0}, 0x1f, {0, 3}},
        {"upload staging", {kMappedWrite, VMA_MEMORY_USAGE_AUTO_PREFER_HOST, kHost, 0, 0}, 0x1f, {1, 2, 3}},
        {"readback staging", {kMappedRead, VMA_MEMORY_USAGE_AUTO_PREFER_HOST, kHost, 0, 0}, 0x1f, {2, 1, 3}},
        {"buffer's own type bits", {0, VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE, kDevice, 0, 0}, 0x08, {3}},
        {"request's type bits", {0, VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE, 0, 0, 0x06}, 0x1f, {1, 2}},
        {"preferred flags", {0, VMA_MEMORY_USAGE_AUTO_PREFER_HOST, 0, kCached, 0}, 0x1f, {2, 1, 0, 3}},
        {"lazily allocated only when required", {0, VMA_MEMORY_USAGE_AUTO, VK_MEMORY_PROPERTY_LAZILY_ALLOCATED_BIT, 0, 0},
         0x1f, {4}},
        {"nothing fits", {0, VMA_MEMORY_USAGE_AUTO, VK_MEMORY_PROPERTY_PROTECTED_BIT, 0, 0}, 0x1f, {}},
    };
    for (const auto& c : cases) {
        uint32_t order[VK_MAX_MEMORY_TYPES];
        const uint32_t n = rankMemoryTypes(props, c.type_bits, c.request, order);
        EXPECT_EQ(std::vector<uint32_t>(order, order + n), c.want) << c.what;
    }
}
#endif

// The device buffer of the registry: storage, copies and device addresses.
VkBufferCreateInfo deviceBufferInfo(uint64_t size) {
    VkBufferCreateInfo info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
    info.size = size;
    info.usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT |
                 VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_SHADER_DEVICE_ADDRESS_BIT;
    info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    return info;
}

TEST(MemoryAllocator, BuffersOnLavapipe) {
    inChildProcess([] {
        ASSERT_TRUE(ensureVulkanContext());
        const VulkanContext& ctx = vulkanContext();
        const VmaAllocator allocator = ctx.allocator;

        const VkPhysicalDeviceMemoryProperties* props = nullptr;
        vmaGetMemoryProperties(allocator, &props);
        ASSERT_NE(props, nullptr);
        EXPECT_EQ(std::memcmp(props, &ctx.memory_properties, sizeof *props), 0);
        const uint32_t heaps = props->memoryHeapCount;
        std::vector<VmaBudget> before(heaps), during(heaps), after(heaps);
        vmaGetHeapBudgets(allocator, before.data());

        // A device buffer with a shader device address (dedicated, as large
        // buffers are) and a mapped host buffer.
        const VkBufferCreateInfo device_info = deviceBufferInfo(uint64_t{64} << 20);
        VmaAllocationCreateInfo device_request{};
        device_request.usage = VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE;
        device_request.requiredFlags = VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
        device_request.flags = VMA_ALLOCATION_CREATE_DEDICATED_MEMORY_BIT;
        VkBuffer device_buffer = VK_NULL_HANDLE;
        VmaAllocation device_allocation = VK_NULL_HANDLE;
        VmaAllocationInfo device_alloc_info{};
        ASSERT_EQ(vmaCreateBuffer(allocator, &device_info, &device_request, &device_buffer, &device_allocation,
                                  &device_alloc_info),
                  VK_SUCCESS);
        EXPECT_GE(device_alloc_info.size, device_info.size);
        EXPECT_EQ(device_alloc_info.pMappedData, nullptr);
        VkBufferDeviceAddressInfo address_info{VK_STRUCTURE_TYPE_BUFFER_DEVICE_ADDRESS_INFO, nullptr, device_buffer};
        EXPECT_NE(ctx.vk.vkGetBufferDeviceAddress(ctx.device, &address_info), 0u);

        VkBufferCreateInfo host_info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
        host_info.size = 12345;
        host_info.usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT;
        VmaAllocationCreateInfo host_request{};
        host_request.usage = VMA_MEMORY_USAGE_AUTO_PREFER_HOST;
        host_request.requiredFlags = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
        host_request.flags = VMA_ALLOCATION_CREATE_MAPPED_BIT | VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT;
        VkBuffer host_buffer = VK_NULL_HANDLE;
        VmaAllocation host_allocation = VK_NULL_HANDLE;
        VmaAllocationInfo host_alloc_info{};
        ASSERT_EQ(vmaCreateBuffer(allocator, &host_info, &host_request, &host_buffer, &host_allocation, &host_alloc_info),
                  VK_SUCCESS);
        ASSERT_NE(host_alloc_info.pMappedData, nullptr);
        auto* mapped = static_cast<uint8_t*>(host_alloc_info.pMappedData);
        for (size_t i = 0; i < host_info.size; ++i) mapped[i] = static_cast<uint8_t>(i * 7);
        for (size_t i = 0; i < host_info.size; ++i) ASSERT_EQ(mapped[i], static_cast<uint8_t>(i * 7));

        // Without VK_EXT_memory_budget: usage is our own bytes, the budget 80% of the heap.
        vmaGetHeapBudgets(allocator, during.data());
        const uint32_t heap = props->memoryTypes[device_alloc_info.memoryType].heapIndex;
        EXPECT_EQ(during[heap].statistics.allocationCount, before[heap].statistics.allocationCount + 2);
        EXPECT_EQ(during[heap].statistics.allocationBytes,
                  before[heap].statistics.allocationBytes + device_alloc_info.size + host_alloc_info.size);
        EXPECT_EQ(during[heap].statistics.blockBytes, during[heap].statistics.allocationBytes);
        EXPECT_EQ(during[heap].usage, during[heap].statistics.blockBytes);
        EXPECT_EQ(during[heap].budget, props->memoryHeaps[heap].size / 10 * 8);

        vmaDestroyBuffer(allocator, host_buffer, host_allocation);
        vmaDestroyBuffer(allocator, device_buffer, device_allocation);
        vmaGetHeapBudgets(allocator, after.data());
        EXPECT_EQ(after[heap].statistics.allocationCount, before[heap].statistics.allocationCount);
        EXPECT_EQ(after[heap].statistics.allocationBytes, before[heap].statistics.allocationBytes);
        vmaDestroyBuffer(allocator, VK_NULL_HANDLE, VK_NULL_HANDLE);  // harmless
    });
}

TEST(MemoryAllocator, RefusalsLeaveNothingBehind) {
    inChildProcess([] {
        ASSERT_TRUE(ensureVulkanContext());
        const VmaAllocator allocator = vulkanContext().allocator;
        VmaBudget before[VK_MAX_MEMORY_HEAPS], after[VK_MAX_MEMORY_HEAPS];
        vmaGetHeapBudgets(allocator, before);

        VkBuffer buffer = VK_NULL_HANDLE;
        VmaAllocation allocation = VK_NULL_HANDLE;
        VmaAllocationCreateInfo request{};
        request.usage = VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE;
        const VkBufferCreateInfo empty = deviceBufferInfo(0);
        EXPECT_NE(vmaCreateBuffer(allocator, &empty, &request, &buffer, &allocation, nullptr), VK_SUCCESS);
        // Lavapipe has no protected memory type.
        request.requiredFlags = VK_MEMORY_PROPERTY_PROTECTED_BIT;
        const VkBufferCreateInfo info = deviceBufferInfo(4096);
        EXPECT_EQ(vmaCreateBuffer(allocator, &info, &request, &buffer, &allocation, nullptr),
                  VK_ERROR_FEATURE_NOT_PRESENT);
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(allocation, nullptr);
        vmaGetHeapBudgets(allocator, after);
        EXPECT_EQ(after[0].statistics.allocationCount, before[0].statistics.allocationCount);
    });
}

TEST(StagingBuffers, GrowByDoublingAndNeverShrink) {
    inChildProcess([] {
        ASSERT_TRUE(ensureVulkanContext());
        const VulkanContext& ctx = vulkanContext();
        EXPECT_EQ(ctx.upload_staging.capacity, uint64_t{1} << 20);
        ASSERT_TRUE(ensureUploadBuffer((uint64_t{5} << 20) + 1));
        EXPECT_EQ(ctx.upload_staging.capacity, uint64_t{8} << 20);
        ASSERT_TRUE(ensureUploadBuffer(1));
        EXPECT_EQ(ctx.upload_staging.capacity, uint64_t{8} << 20);
        EXPECT_NE(ctx.upload_staging.mapped, nullptr);

        EXPECT_EQ(ctx.readback_staging.buffer, nullptr);
        ASSERT_TRUE(ensureReadbackBuffer(3));
        EXPECT_EQ(ctx.readback_staging.capacity, uint64_t{1} << 20);
        ASSERT_NE(ctx.readback_staging.mapped, nullptr);
        std::memset(ctx.readback_staging.mapped, 0xA5, ctx.readback_staging.capacity);
    });
}

}  // namespace
}  // namespace kvn
