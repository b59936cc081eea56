// Device buffers: storage buffers named by DeviceBufferHandle (registry
// index + 1), allocated through the memory allocator and never mapped.
#pragma once

#include <cstdint>
#include <optional>

#include "pipeline/device/backend_hooks.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/vulkan_api.h"

namespace kvn {

// What an operation needs of a live buffer, copied out under the registry lock.
struct BufferView {
    VkBuffer buffer;
    uint64_t size;  // bytes rounded up to 4
};

// Empty for handle 0, an index outside the registry or a freed entry.
std::optional<BufferView> lookupBuffer(DeviceBufferHandle handle);

// Whether [offset, offset + bytes) lies inside a buffer of `size` bytes.
inline bool rangeFits(uint64_t offset, uint64_t bytes, uint64_t size) {
    return offset <= size && bytes <= size - offset;
}

int32_t procMemAlloc(uint64_t* out, uint64_t bytes);
// Test seam: the next `after` allocations run as usual, the one after is
// refused as the device being out of memory. A negative value disarms it.
void injectDeviceAllocFailure(int after);
int32_t procMemFree(DeviceBufferHandle handle);
int32_t procMemGetInfo(uint64_t* free_bytes, uint64_t* total_bytes);

}  // namespace kvn
