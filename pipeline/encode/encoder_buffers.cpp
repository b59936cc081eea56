#include "pipeline/encode/encoder_buffers.h"

#include "pipeline/device/backend_hooks.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

Error ensureEncodeDeviceBuffer(DeviceBuffer& buffer, uint64_t bytes) {
    // A buffer larger than a binding reaches fails every launch that binds
    // it: a smaller request gets a buffer that fits.
    const uint64_t limit = deviceBindingLimit();
    if (buffer.capacity >= bytes && buffer.handle && !(buffer.capacity > limit && bytes <= limit)) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memAlloc || !ops.memFree) return Error::BackendNotAvailable;
    freeEncodeDeviceBuffer(buffer);
    DeviceBufferHandle handle = 0;
    // A zero-byte buffer cannot be bound; keep one word.
    const uint64_t size = bytes ? bytes : 4;
    KVN_TRY(ops.memAlloc(&handle, size));
    if (!handle) return Error::OutOfDeviceMemory;
    buffer = {handle, size};
    return Error::None;
}

Error ensureEncodeDeviceBuffers(std::initializer_list<BufferRequest> requests) {
    for (const BufferRequest& r : requests) {
        KVN_TRY(ensureEncodeDeviceBuffer(*r.buffer, r.bytes));
    }
    return Error::None;
}

void freeEncodeDeviceBuffer(DeviceBuffer& buffer) {
    if (buffer.handle && gpuOps().memFree) gpuOps().memFree(buffer.handle);
    buffer = {0, 0};
}

}  // namespace kvn
