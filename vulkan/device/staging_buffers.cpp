#include "vulkan/device/staging_buffers.h"

#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

bool ensureStagingBuffer(StagingBuffer& staging, uint64_t bytes, VmaAllocationCreateFlags host_access) {
    if (staging.capacity >= bytes && staging.buffer) return true;
    destroyStagingBuffer(staging);
    uint64_t capacity = kInitialStagingBytes;
    while (capacity < bytes) capacity *= 2;

    void* mapped = nullptr;
    if (!createHostStagingBuffer(capacity, host_access, false, &staging.buffer, &staging.allocation, &mapped))
        return false;
    staging.mapped = mapped;
    staging.capacity = capacity;
    return true;
}

}  // namespace

bool ensureUploadBuffer(uint64_t bytes) {
    return ensureStagingBuffer(vulkanContext().upload_staging, bytes,
                               VMA_ALLOCATION_CREATE_HOST_ACCESS_SEQUENTIAL_WRITE_BIT);
}

bool ensureReadbackBuffer(uint64_t bytes) {
    return ensureStagingBuffer(vulkanContext().readback_staging, bytes, VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT);
}

bool createHostStagingBuffer(uint64_t capacity, VmaAllocationCreateFlags host_access, bool shared_by_queues,
                             VkBuffer* buffer, VmaAllocation* allocation, void** mapped) {
    const VulkanContext& ctx = vulkanContext();
    const bool concurrent = shared_by_queues && ctx.separate_transfer_family;
    const uint32_t families[2] = {ctx.compute_family, ctx.transfer_family};
    VkBufferCreateInfo buffer_info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
    buffer_info.size = capacity;
    buffer_info.usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    buffer_info.sharingMode = concurrent ? VK_SHARING_MODE_CONCURRENT : VK_SHARING_MODE_EXCLUSIVE;
    buffer_info.queueFamilyIndexCount = concurrent ? 2 : 0;
    buffer_info.pQueueFamilyIndices = concurrent ? families : nullptr;
    VmaAllocationCreateInfo request{};
    request.usage = VMA_MEMORY_USAGE_AUTO_PREFER_HOST;
    request.requiredFlags = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
    request.flags = VMA_ALLOCATION_CREATE_MAPPED_BIT | host_access;
    VmaAllocationInfo info{};
    *buffer = VK_NULL_HANDLE;
    *allocation = VK_NULL_HANDLE;
    if (vmaCreateBuffer(ctx.allocator, &buffer_info, &request, buffer, allocation, &info) != VK_SUCCESS) {
        *buffer = VK_NULL_HANDLE;
        *allocation = VK_NULL_HANDLE;
        return false;
    }
    if (!info.pMappedData) {
        vmaDestroyBuffer(ctx.allocator, *buffer, *allocation);
        *buffer = VK_NULL_HANDLE;
        *allocation = VK_NULL_HANDLE;
        return false;
    }
    *mapped = info.pMappedData;
    return true;
}

void destroyStagingBuffer(StagingBuffer& staging) {
    if (staging.buffer || staging.allocation) vmaDestroyBuffer(vulkanContext().allocator, staging.buffer, staging.allocation);
    staging = StagingBuffer{};
}

}  // namespace kvn
