// The kinds of buffers a handle grows and keeps between calls.
#pragma once

#include <cstdint>

#include "core/interface/backend.h"

namespace kvn {

// A growable device buffer, grown by freeing it and allocating anew without
// copying; {0, 0} holds nothing.
struct DeviceBuffer {
    DeviceBufferHandle handle;
    uint64_t capacity;
};

// Host memory from the device layer's host allocation (whole pages on
// Vulkan, page-locked memory on CUDA), freed through its host-free operation.
struct HostBuffer {
    void* pointer;
    uint64_t bytes;
};

// An array on the C heap.
struct HostArray {
    void* pointer;
    uint64_t capacity;
};

// A block of whole pages.
struct PageBlock {
    void* pages;
    uint64_t bytes;
};

// Frees each buffer through ops.memFree (skipped when the operation is
// missing; failures are ignored) and zeroes it.
void releaseDeviceBuffers(DeviceBuffer* buffers, uint32_t count, const CoreDeviceOps& ops);

// Frees the buffers through ops.memFreeHost, which also drops any device
// import of their pages (skipped when missing); zeroes each.
void freeHostBuffers(HostBuffer* buffers, uint32_t count, const CoreDeviceOps& ops);

void freePageBlock(PageBlock& block);

}  // namespace kvn
