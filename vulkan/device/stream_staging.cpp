#include "vulkan/device/stream_staging.h"

#include <new>

#include "vulkan/device/streams.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

bool createStreamStaging(StreamStagingBuffer& staging, uint64_t capacity) {
    const VulkanContext& ctx = vulkanContext();
    const uint32_t families[2] = {ctx.compute_family, ctx.transfer_family};
    VkBufferCreateInfo buffer_info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
    buffer_info.size = capacity;
    buffer_info.usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    buffer_info.sharingMode = ctx.separate_transfer_family ? VK_SHARING_MODE_CONCURRENT : VK_SHARING_MODE_EXCLUSIVE;
    buffer_info.queueFamilyIndexCount = ctx.separate_transfer_family ? 2 : 0;
    buffer_info.pQueueFamilyIndices = ctx.separate_transfer_family ? families : nullptr;
    VmaAllocationCreateInfo request{};
    request.usage = VMA_MEMORY_USAGE_AUTO_PREFER_HOST;
    request.requiredFlags = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
    request.flags = VMA_ALLOCATION_CREATE_MAPPED_BIT | VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT;
    VmaAllocationInfo info{};
    if (vmaCreateBuffer(ctx.allocator, &buffer_info, &request, &staging.buffer, &staging.allocation, &info) !=
        VK_SUCCESS) {
        staging.buffer = VK_NULL_HANDLE;
        staging.allocation = VK_NULL_HANDLE;
        return false;
    }
    if (!info.pMappedData) {
        vmaDestroyBuffer(ctx.allocator, staging.buffer, staging.allocation);
        staging.buffer = VK_NULL_HANDLE;
        staging.allocation = VK_NULL_HANDLE;
        return false;
    }
    staging.mapped = info.pMappedData;
    staging.capacity = capacity;
    return true;
}

}  // namespace

std::optional<StagingSpan> streamStagingAlloc(StreamRecord& s, uint64_t bytes) {
    StreamStagingBuffer& staging = s.staging;
    const uint64_t offset = (staging.used + 63) & ~uint64_t{63};
    if (bytes > (uint64_t{1} << 62) - offset) return std::nullopt;
    const uint64_t end = offset + bytes;
    if (end > staging.capacity || !staging.buffer) {
        if (staging.buffer) {
            const RetiredStagingBuffer retired{staging.buffer, staging.allocation};
            try {
                s.retired_staging.push_back(retired);
            } catch (const std::bad_alloc&) {
                // Nothing recorded may still point at it only when nothing was staged.
                return std::nullopt;
            }
        }
        const uint64_t used = staging.used;
        staging = StreamStagingBuffer{};
        staging.used = used;
        uint64_t capacity = kInitialStagingBytes;
        while (capacity < end) capacity *= 2;
        if (!createStreamStaging(staging, capacity)) return std::nullopt;
    }
    staging.used = end;
    return StagingSpan{staging.buffer, static_cast<uint8_t*>(staging.mapped), offset};
}

void retireStreamStaging(StreamRecord& s) {
    const VmaAllocator allocator = vulkanContext().allocator;
    for (const RetiredStagingBuffer& retired : s.retired_staging)
        vmaDestroyBuffer(allocator, retired.buffer, retired.allocation);
    s.retired_staging.clear();
}

void destroyStreamStaging(StreamRecord& s) {
    retireStreamStaging(s);
    if (s.staging.buffer) vmaDestroyBuffer(vulkanContext().allocator, s.staging.buffer, s.staging.allocation);
    s.staging = StreamStagingBuffer{};
}

}  // namespace kvn
