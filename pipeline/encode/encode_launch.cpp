#include "pipeline/encode/encode_launch.h"

#include "core/interface/backend.h"
#include "core/timing/timing_records.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/encode_kernels.h"

namespace kvn {

Error launchEncodeKernelOn(StreamHandle stream, EncoderState* timed, const char* label, KernelHandle kernel,
                           EncodeKernelShape shape, uint32_t blocks,
                           std::initializer_list<DeviceBufferHandle> buffers, std::initializer_list<uint32_t> words,
                           std::initializer_list<DeviceBufferHandle> vulkan_only, const uint64_t* binding_offsets) {
    if (!kernel || !g_enc_launch_kernel) return Error::KernelMissing;
    const size_t extra_bindings = kernelsTakeCudaForms() ? 0 : vulkan_only.size();
    const size_t bindings = buffers.size() + extra_bindings;
    if (bindings > kMaxLaunchBindings || words.size() > kMaxPushBytes / 4) return Error::BadRequest;
    void* params[kMaxLaunchBindings + kMaxPushBytes / 4];
    size_t i = 0;
    for (const DeviceBufferHandle& b : buffers) params[i++] = const_cast<DeviceBufferHandle*>(&b);
    for (size_t k = 0; k < extra_bindings; ++k) params[i++] = const_cast<DeviceBufferHandle*>(vulkan_only.begin() + k);
    for (const uint32_t& w : words) params[i++] = const_cast<uint32_t*>(&w);
    const uint32_t grid_x = shape.warp_kernel ? blocks * (shape.block_threads / 32) : blocks;

    const CoreDeviceOps ops = backend().deviceOps();
    const KernelTiming timing = timed
                                    ? beginKernelTiming(ops, timed->record_timings, timed->pending_timings, label, stream)
                                    : KernelTiming{0, false};
    // A backend whose kernels take one argument per parameter rebuilds them from the counts.
    LaunchArgCounts counts{static_cast<uint32_t>(bindings), static_cast<uint32_t>(words.size())};
    void* extra[] = {&counts};
    const Error launched = g_enc_launch_kernel(kernel, grid_x, 1, 1, shape.block_threads, 1, 1, 0, stream, params,
                                               extra, binding_offsets);
    if (timing.ok) ops.eventRecord(timing.end, stream);
    KVN_TRY(launched);
    if (!stream) return Error::None;
    const GpuOpsTable& gpu = gpuOps();
    return gpu.streamComputeBarrier ? gpu.streamComputeBarrier(stream) : Error::BackendNotAvailable;
}

}  // namespace kvn
