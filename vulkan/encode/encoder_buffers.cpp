#include "vulkan/encode/encoder_buffers.h"

#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/kernel_launch.h"

namespace kvn {

bool ensureEncodeDeviceBuffer(DeviceBuffer& buffer, uint64_t bytes) {
    // A buffer larger than a binding reaches fails every launch that binds
    // it: a smaller request gets a buffer that fits.
    const uint64_t limit = deviceBindingLimit();
    if (buffer.capacity >= bytes && buffer.handle && !(buffer.capacity > limit && bytes <= limit)) return true;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memAlloc || !ops.memFree) return false;
    freeEncodeDeviceBuffer(buffer);
    DeviceBufferHandle handle = 0;
    // A zero-byte buffer cannot be bound; keep one word.
    const uint64_t size = bytes ? bytes : 4;
    if (ops.memAlloc(&handle, size) != 0 || !handle) return false;
    buffer = {handle, size};
    return true;
}

void freeEncodeDeviceBuffer(DeviceBuffer& buffer) {
    if (buffer.handle && gpuOps().memFree) gpuOps().memFree(buffer.handle);
    buffer = {0, 0};
}

}  // namespace kvn
