#include "vulkan/device/stream_staging.h"

#include <new>

#include "vulkan/device/staging_buffers.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

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
        if (!createHostStagingBuffer(capacity, VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT, true, &staging.buffer,
                                     &staging.allocation, &staging.mapped))
            return std::nullopt;
        staging.capacity = capacity;
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
