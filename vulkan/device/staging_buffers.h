// The two process-wide staging buffers of the synchronous copies: device
// buffers are never mapped, so host bytes pass through these.
#pragma once

#include <cstdint>

#include "vulkan/device/memory_allocator.h"

namespace kvn {

struct StagingBuffer;

// Grow the buffer to hold `bytes` (1 MiB doubled as often as needed); the
// content is not kept. False leaves no buffer and capacity 0.
bool ensureUploadBuffer(uint64_t bytes);
bool ensureReadbackBuffer(uint64_t bytes);

void destroyStagingBuffer(StagingBuffer& staging);

// A host-visible, coherent, mapped buffer for copies through the host;
// `shared_by_queues` makes it concurrent over the compute and transfer
// families when they differ. False leaves nothing behind.
bool createHostStagingBuffer(uint64_t capacity, VmaAllocationCreateFlags host_access, bool shared_by_queues,
                             VkBuffer* buffer, VmaAllocation* allocation, void** mapped);

}  // namespace kvn
