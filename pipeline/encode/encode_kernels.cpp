#include "pipeline/encode/encode_kernels.h"

#include <cstdio>

#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {

LaunchKernelFn g_enc_launch_kernel = nullptr;
MemFreeFn g_enc_mem_free = nullptr;

Error launchKernelIfLoaded(KernelHandle kernel, uint32_t grid_x, uint32_t grid_y, uint32_t grid_z, uint32_t block_x,
                             uint32_t block_y, uint32_t block_z, uint32_t shared_bytes, StreamHandle stream,
                             void** params, void** extra, const uint64_t* binding_offsets) {
    const LaunchKernelFn launch = gpuOps().launchKernel;
    return launch ? launch(kernel, grid_x, grid_y, grid_z, block_x, block_y, block_z, shared_bytes, stream, params,
                           extra, binding_offsets)
                  : Error::BackendNotAvailable;
}

std::optional<KernelHandle> getEncodePipeline(EncodeKernelField kernel) {
    const bool ready = ensureEncodePipelines();
    const KernelHandle& field = encodeKernels().*kernel;
    if (ready && field) return field;
    if (envPresent("KVN_FALLBACK_TRACE"))
        std::fprintf(stderr, "[fallback] %s handle@0x%llx unavailable (init %s)\n", encodeTraceLabel(),
                     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&field)), ready ? "ok" : "FAILED");
    return std::nullopt;
}

Error memFreeIfLoaded(DeviceBufferHandle buffer) {
    const MemFreeFn free_fn = gpuOps().memFree;
    return free_fn ? free_fn(buffer) : Error::BackendNotAvailable;
}

}  // namespace kvn
