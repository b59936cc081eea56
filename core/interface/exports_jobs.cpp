// Common family: the compress and decompress calls. Each checks its
// arguments, builds its job record and runs it; the job bodies belong to the
// backend.
#include "core/interface/interface_support.h"
#include "core/interface/job_runners.h"

using namespace kvn;

namespace {

// kvnCompressAsync accepts sources from just above the stored-frame limit up to 1 GiB.
constexpr uint64_t kAsyncCompressMinSource = 129;
constexpr uint64_t kAsyncCompressMaxSource = uint64_t{1} << 30;

// Device memory is short when less than 1/32 of it is free; the decoder's
// buffers then make room for the encoder's.
void releaseDecoderBuffersWhenMemoryIsShort(KvnHandle& handle) {
    const CoreDeviceOps ops = backend().deviceOps();
    uint64_t free_bytes = 0;
    uint64_t total_bytes = 0;
    if (!ops.memGetInfo || ops.memGetInfo(&free_bytes, &total_bytes) != Error::None || total_bytes == 0) return;
    if (free_bytes < (total_bytes >> 5)) releaseDecoderBuffers(handle.decoder);
}

}  // namespace

extern "C" {

KVN_API KvnStatus kvnCompressHost(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                  uint64_t dst_cap, uint64_t* out_size, const CompressOpts* opts) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!dst || !src || !out_size || !opts) return KVN_STATUS_INVALID_ARGUMENT;
    CompressJob job{.handle = asHandle(handle), .src_host = src, .src_len = src_len, .dst_host = dst,
                    .dst_cap = dst_cap, .opts = *opts};
    return statusFromJobResult(runCompressOnWorkerThread(&job), out_size);
}

KVN_API KvnStatus kvnDecompressHost(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                    uint64_t dst_cap, uint64_t* out_size, const DecompressOpts* opts) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!dst || !src || !out_size || !opts) return KVN_STATUS_INVALID_ARGUMENT;
    DecompressJob job{.handle = asHandle(handle), .src = src, .src_len = src_len, .dst = dst, .dst_cap = dst_cap,
                      .opts = *opts};
    return statusFromJobResult(runDecodeOnWorkerThread(&job), out_size);
}

KVN_API KvnStatus kvnCompressAsync(void* handle, uint64_t dev_src, uint64_t src_len, uint64_t dev_dst,
                                   uint64_t dst_cap, uint64_t* out_size, const CompressOpts* opts,
                                   uint64_t stream) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!dev_src || !dev_dst || !out_size || !opts) return KVN_STATUS_INVALID_ARGUMENT;
    KvnHandle& h = *asHandle(handle);
    releaseDecoderBuffersWhenMemoryIsShort(h);
    if (src_len < kAsyncCompressMinSource || src_len > kAsyncCompressMaxSource) return KVN_STATUS_UNSUPPORTED;
    if (growStaging(h, dst_cap) != Error::None) return KVN_STATUS_OUT_OF_MEMORY;
    CompressJob job{.handle = &h, .src_host = kDeviceSourcePlaceholder, .src_len = src_len, .dst_host = h.staging,
                    .dst_cap = dst_cap, .dev_src = dev_src, .dev_dst = dev_dst, .stream = stream, .opts = *opts};
    return statusFromJobResult(runCompressOnCallerThread(&job), out_size);
}

KVN_API KvnStatus kvnDecompressAsync(void* handle, uint64_t dev_src, uint32_t src_len, uint64_t dev_dst,
                                     uint32_t dst_cap, const DecompressOpts* opts, uint64_t stream) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!dev_src || !dev_dst || !opts) return KVN_STATUS_INVALID_ARGUMENT;
    DeviceDecompressJob job{.handle = asHandle(handle), .dev_src = dev_src, .dev_dst = dev_dst, .stream = stream,
                            .src_len = src_len, .opts = *opts, .dst_cap = dst_cap};
    const int32_t result = runDeviceDecodeOnCallerThread(&job);
    if (result >= 0) return KVN_STATUS_SUCCESS;
    if (job.fallback) return KVN_STATUS_UNSUPPORTED;
    return static_cast<KvnStatus>(-int64_t{result});
}

}  // extern "C"
