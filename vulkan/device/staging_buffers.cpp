#include "vulkan/device/staging_buffers.h"

#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

bool ensureStagingBuffer(StagingBuffer& staging, uint64_t bytes, VmaAllocationCreateFlags host_access) {
    if (staging.capacity >= bytes && staging.buffer) return true;
    destroyStagingBuffer(staging);
    uint64_t capacity = kInitialStagingBytes;
    while (capacity < bytes) capacity *= 2;

    VulkanContext& ctx = vulkanContext();
    VkBufferCreateInfo buffer_info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
    buffer_info.size = capacity;
    buffer_info.usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    buffer_info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    VmaAllocationCreateInfo request{};
    request.usage = VMA_MEMORY_USAGE_AUTO_PREFER_HOST;
    request.requiredFlags = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
    request.flags = VMA_ALLOCATION_CREATE_MAPPED_BIT | host_access;
    VmaAllocationInfo info{};
    if (vmaCreateBuffer(ctx.allocator, &buffer_info, &request, &staging.buffer, &staging.allocation, &info) !=
        VK_SUCCESS)
        return false;
    staging.mapped = info.pMappedData;
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

void destroyStagingBuffer(StagingBuffer& staging) {
    if (staging.buffer || staging.allocation) vmaDestroyBuffer(vulkanContext().allocator, staging.buffer, staging.allocation);
    staging = StagingBuffer{};
}

}  // namespace kvn
