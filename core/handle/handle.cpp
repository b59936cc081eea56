#include "core/handle/handle.h"

#include <algorithm>

#include "core/interface/backend.h"

namespace kvn {

Error growStaging(KvnHandle& handle, uint64_t capacity) {
    if (handle.staging && capacity <= handle.staging_cap) return Error::None;
    heapFree(handle.staging);
    handle.staging = nullptr;
    handle.staging_cap = 0;
    const uint64_t bytes = std::max<uint64_t>(16, capacity);
    handle.staging = static_cast<uint8_t*>(heapAlloc(bytes));
    if (!handle.staging) return Error::OutOfMemory;
    handle.staging_cap = bytes;
    return Error::None;
}

void destroyHandle(KvnHandle* handle) {
    if (!handle) return;
    // A job still running would use the handle after it is freed.
    if (backend().joinHandleJobs) backend().joinHandleJobs(handle);
    deinitEncoderState(handle->encoder);
    deinitDecoderState(handle->decoder);
    heapFree(handle->staging);
    handle->~KvnHandle();
    heapFree(handle);
}

}  // namespace kvn
