// Vulkan family: asynchronous host-memory compress and decompress. Each start
// runs the job on an outer thread of the handle, which runs it on a worker
// thread like the synchronous calls; the poll collects the result.
#include "core/interface/interface_support.h"
#include "core/interface/job_runners.h"
#include "vulkan/interface/family_handle.h"

using namespace kvn;

namespace {

// A job started without its buffers: stored as a negative status, so that
// no poll can read it as a size.
constexpr int32_t kRefusedJob = -int32_t{KVN_STATUS_INVALID_ARGUMENT};

// The arguments of a start, copied for its outer thread, which frees them.
template <typename Opts>
struct AsyncRequest {
    VulkanFamilyHandle* handle;
    const uint8_t* src;
    uint64_t src_len;
    uint8_t* dst;
    uint64_t dst_cap;
    Opts opts;

    bool hasBuffers() const { return dst && (src || src_len == 0); }
};
using CompressRequest = AsyncRequest<CompressOpts>;
using DecompressRequest = AsyncRequest<DecompressOpts>;

void compressAsyncThreadMain(void* raw) {
    const CompressRequest request = *static_cast<CompressRequest*>(raw);
    heapFree(raw);
    AsyncSlot& slot = request.handle->async_compress;
    int32_t result = kRefusedJob;
    if (request.hasBuffers()) {
        CompressJob job{.handle = request.handle, .src_host = request.src, .src_len = request.src_len,
                        .dst_host = request.dst, .dst_cap = request.dst_cap, .opts = request.opts};
        result = runCompressOnWorkerThread(&job);
    }
    if (result >= 0 && slot.size_out) *slot.size_out = static_cast<uint64_t>(result);
    finishAsyncJob(slot, result);
}

void decompressAsyncThreadMain(void* raw) {
    const DecompressRequest request = *static_cast<DecompressRequest*>(raw);
    heapFree(raw);
    int32_t result = kRefusedJob;
    if (request.hasBuffers()) {
        DecompressJob job{.handle = request.handle, .src = request.src, .src_len = request.src_len,
                          .dst = request.dst, .dst_cap = request.dst_cap, .opts = request.opts};
        result = runDecodeOnWorkerThread(&job);
    }
    finishAsyncJob(request.handle->async_decompress, result);
}

// Copies the request to the heap and starts its outer thread: 7 when the copy
// cannot be made, 8 when the thread cannot be started; the slot is then empty.
template <typename Request>
KvnStatus startAsyncJob(AsyncSlot& slot, ThreadBody body, const Request& request, uint64_t* size_out = nullptr) {
    auto* copy = static_cast<Request*>(heapAlloc(sizeof(Request)));
    if (!copy) return KVN_STATUS_OUT_OF_MEMORY;
    *copy = request;
    const KvnStatus status = launchAsyncJob(slot, body, copy, size_out);
    if (status != KVN_STATUS_SUCCESS) heapFree(copy);
    return status;
}

}  // namespace

extern "C" {

KVN_API KvnStatus kvnCompressAsync_vk(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                      uint64_t dst_cap, uint64_t* out_size, const CompressOpts* opts) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    VulkanFamilyHandle* h = asVulkanFamily(handle);
    if (!h || !dst || (!src && src_len != 0) || !opts) return KVN_STATUS_INVALID_ARGUMENT;
    AsyncSlot& slot = h->async_compress;
    if (const KvnStatus busy = prepareAsyncSlot(slot)) return busy;
    return startAsyncJob(slot, compressAsyncThreadMain, CompressRequest{h, src, src_len, dst, dst_cap, *opts},
                         out_size);
}

KVN_API int32_t kvnCompressAsyncPoll_vk(void* handle, int32_t wait) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    VulkanFamilyHandle* h = asVulkanFamily(handle);
    return h ? pollAsyncJob(h->async_compress, wait) : KVN_STATUS_INVALID_ARGUMENT;
}

KVN_API KvnStatus kvnDecompressAsync_vk(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                        uint64_t dst_cap, const DecompressOpts* opts) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    VulkanFamilyHandle* h = asVulkanFamily(handle);
    if (!h || (!src && src_len != 0) || (!dst && dst_cap != 0) || !opts) return KVN_STATUS_INVALID_ARGUMENT;
    AsyncSlot& slot = h->async_decompress;
    if (const KvnStatus busy = prepareAsyncSlot(slot)) return busy;
    return startAsyncJob(slot, decompressAsyncThreadMain, DecompressRequest{h, src, src_len, dst, dst_cap, *opts});
}

KVN_API int32_t kvnDecompressAsyncPoll_vk(void* handle, int32_t wait) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    VulkanFamilyHandle* h = asVulkanFamily(handle);
    return h ? pollAsyncJob(h->async_decompress, wait) : KVN_STATUS_INVALID_ARGUMENT;
}

}  // extern "C"
