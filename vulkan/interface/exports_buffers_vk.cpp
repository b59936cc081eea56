// Vulkan family: buffers registered with a handle, device-only handles, and
// device memory reached through the device-operations table.
#include "core/interface/interface_support.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/interface/device_only_handles.h"
#include "vulkan/interface/family_handle.h"

using namespace kvn;

namespace {

// A copy must stay inside the buffer; the operation copies at offset 0.
bool copyFits(DeviceBufferHandle buffer, uint64_t bytes) {
    const std::optional<BufferView> view = lookupBuffer(buffer);
    return !view || bytes <= view->size;
}

KvnStatus deviceCallStatus(Error result) {
    return result == Error::None ? KVN_STATUS_SUCCESS : KVN_STATUS_DEVICE_CALL_FAILED;
}

}  // namespace

extern "C" {

KVN_API KvnStatus kvnRegisterBuffer_vk(void* handle, uint64_t aux0, uint64_t key, uint64_t aux1) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    VulkanFamilyHandle* h = asVulkanFamily(handle);
    if (!h) return KVN_STATUS_INVALID_ARGUMENT;
    return registerBuffer(*h, aux0, key, aux1);
}

KVN_API KvnStatus kvnUnregisterBuffer_vk(void* handle, uint64_t key) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    VulkanFamilyHandle* h = asVulkanFamily(handle);
    if (!h) return KVN_STATUS_INVALID_ARGUMENT;
    unregisterBuffer(*h, key);
    return KVN_STATUS_SUCCESS;
}

KVN_API KvnStatus kvnMakeDeviceOnlyHandle_vk(uint64_t* out, uint64_t size) {
    if (!out) return KVN_STATUS_INVALID_ARGUMENT;
    return takeDeviceOnlyRange(size, out) == Error::None ? KVN_STATUS_SUCCESS : KVN_STATUS_OUT_OF_MEMORY;
}

KVN_API KvnStatus kvnVkDeviceAlloc(void* handle, uint64_t size, uint64_t* out) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!out) return KVN_STATUS_INVALID_ARGUMENT;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memAlloc) return KVN_STATUS_DEVICE_CALL_FAILED;
    *out = 0;
    uint64_t buffer = 0;
    if (ops.memAlloc(&buffer, size) != Error::None) return KVN_STATUS_DEVICE_CALL_FAILED;
    *out = buffer;
    return KVN_STATUS_SUCCESS;
}

KVN_API KvnStatus kvnVkDeviceFree(void* handle, uint64_t buf) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (buf == 0) return KVN_STATUS_SUCCESS;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memFree) return KVN_STATUS_DEVICE_CALL_FAILED;
    return deviceCallStatus(ops.memFree(buf));
}

KVN_API KvnStatus kvnVkH2D(void* handle, uint64_t dst_buf, const void* src, uint64_t bytes) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!src || !copyFits(dst_buf, bytes)) return KVN_STATUS_INVALID_ARGUMENT;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD) return KVN_STATUS_DEVICE_CALL_FAILED;
    return deviceCallStatus(ops.memcpyHtoD(dst_buf, src, bytes));
}

KVN_API KvnStatus kvnVkD2H(void* handle, void* dst, uint64_t src_buf, uint64_t bytes) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!dst || !copyFits(src_buf, bytes)) return KVN_STATUS_INVALID_ARGUMENT;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoH) return KVN_STATUS_DEVICE_CALL_FAILED;
    return deviceCallStatus(ops.memcpyDtoH(dst, src_buf, bytes));
}

}  // extern "C"
