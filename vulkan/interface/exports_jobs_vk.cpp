// Vulkan family: the synchronous compress and decompress calls that return
// the job result itself (a byte count, or minus a status). Their buffers are
// host pointers, or device buffers registered with the handle.
#include <algorithm>
#include <cstring>

#include "core/interface/interface_support.h"
#include "core/interface/job_runners.h"
#include "vulkan/interface/device_only_handles.h"
#include "vulkan/interface/family_handle.h"

using namespace kvn;

namespace {

constexpr int32_t kInvalidHandle = KVN_STATUS_INVALID_HANDLE;
constexpr int32_t kInvalidArgument = KVN_STATUS_INVALID_ARGUMENT;
constexpr int32_t kUnsupported = KVN_STATUS_UNSUPPORTED;
constexpr int32_t kOutOfMemory = KVN_STATUS_OUT_OF_MEMORY;

template <typename Pointer>
Pointer* hostPointer(uint64_t value) {
    return reinterpret_cast<Pointer*>(static_cast<uintptr_t>(value));
}

// Where the buffers of a call on host pointers or registered keys lie.
struct Placement {
    VulkanFamilyHandle* handle = nullptr;
    bool src_on_device = false;
    bool dst_on_device = false;
};

// The checks kvnCompress_vk and kvnDecompress_vk share, in their order: 0
// with *placement filled, or the status that refuses the call.
int32_t placeBuffers(void* handle, uint64_t src, uint64_t src_len, uint64_t dst, const void* opts,
                     Placement* placement) {
    if (!handle) return kInvalidHandle;
    VulkanFamilyHandle* h = asVulkanFamily(handle);
    if (!h || dst == 0 || (src == 0 && src_len != 0) || !opts) return kInvalidArgument;
    if (isDeviceOnlyHandle(src)) return kUnsupported;
    *placement = {h, isRegisteredBuffer(*h, src), isRegisteredBuffer(*h, dst)};
    return 0;
}

}  // namespace

extern "C" {

KVN_API int32_t kvnCompressHost_vk(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                   uint64_t dst_cap, const CompressOpts* opts) {
    if (!handle) return kInvalidHandle;
    if (!dst || (!src && src_len != 0) || !opts) return kInvalidArgument;
    CompressJob job{.handle = asHandle(handle), .src_host = src, .src_len = src_len, .dst_host = dst,
                    .dst_cap = dst_cap, .opts = *opts};
    return runCompressOnWorkerThread(&job);
}

KVN_API int32_t kvnDecompressHost_vk(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                     uint64_t dst_cap, const DecompressOpts* opts) {
    if (!handle) return kInvalidHandle;
    if (!dst || (!src && src_len != 0) || !opts) return kInvalidArgument;
    DecompressJob job{.handle = asHandle(handle), .src = src, .src_len = src_len, .dst = dst, .dst_cap = dst_cap,
                      .opts = *opts};
    return runDecodeOnWorkerThread(&job);
}

KVN_API int32_t kvnCompress_vk(void* handle, uint64_t src, uint64_t src_len, uint64_t dst, uint64_t dst_cap,
                               const CompressOpts* opts) {
    Placement at;
    if (const int32_t refusal = placeBuffers(handle, src, src_len, dst, opts, &at)) return refusal;
    VulkanFamilyHandle* h = at.handle;
    if (!at.src_on_device && !at.dst_on_device)
        return kvnCompressHost_vk(handle, hostPointer<const uint8_t>(src), src_len, hostPointer<uint8_t>(dst),
                                  dst_cap, opts);

    // The frames are written through the staging buffer: to dst from there,
    // or into a device destination as each frame is made.
    if (growStaging(*h, dst_cap) != Error::None) return kOutOfMemory;
    CompressJob job{.handle = h,
                    .src_host = at.src_on_device ? kDeviceSourcePlaceholder : hostPointer<const uint8_t>(src),
                    .src_len = src_len,
                    .dst_host = h->staging,
                    .dst_cap = dst_cap,
                    .dev_src = at.src_on_device ? src : 0,
                    .dev_dst = at.dst_on_device ? dst : 0,
                    .opts = *opts};
    const int32_t result = runCompressOnCallerThread(&job);
    if (!at.dst_on_device && result > 0) std::memcpy(hostPointer<uint8_t>(dst), h->staging, uint64_t(result));
    return result;
}

KVN_API int32_t kvnDecompress_vk(void* handle, uint64_t src, uint64_t src_len, uint64_t dst, uint64_t dst_cap,
                                 const DecompressOpts* opts) {
    Placement at;
    if (const int32_t refusal = placeBuffers(handle, src, src_len, dst, opts, &at)) return refusal;
    if (!at.src_on_device && !at.dst_on_device)
        return kvnDecompressHost_vk(handle, hostPointer<const uint8_t>(src), src_len, hostPointer<uint8_t>(dst),
                                    dst_cap, opts);
    // Past the argument checks the call answers like a job: a byte count, or
    // minus a status. A positive refusal would read as a decoded size.
    // The device road reads and writes device buffers only; a host buffer on
    // one side would reach it as "no buffer".
    if (at.src_on_device != at.dst_on_device) return -kUnsupported;
    // The device job holds 32-bit sizes: a longer source cannot be described
    // to it. A larger capacity is clamped, which loses nothing, since no job
    // reports 2^31 bytes or more.
    if (src_len > UINT32_MAX) return -kInvalidArgument;
    DeviceDecompressJob job{.handle = at.handle,
                            .dev_src = src,
                            .dev_dst = dst,
                            .src_len = static_cast<uint32_t>(src_len),
                            .opts = *opts,
                            .dst_cap = static_cast<uint32_t>(std::min<uint64_t>(dst_cap, UINT32_MAX))};
    const int32_t result = runDeviceDecodeOnCallerThread(&job);
    return job.fallback ? -kUnsupported : result;
}

}  // extern "C"
