#include "pipeline/encode/encode_launch.h"

#include "core/interface/backend.h"
#include "core/timing/timing_records.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/encode_kernels.h"

namespace kvn {

Error launchEncodeKernel(EncoderState* timed, const char* label, KernelHandle kernel, EncodeKernelShape shape,
                           uint32_t blocks, std::initializer_list<DeviceBufferHandle> buffers,
                           std::initializer_list<uint32_t> words) {
    if (!kernel || !g_enc_launch_kernel) return Error::KernelMissing;
    if (buffers.size() + words.size() > kMaxLaunchBindings + kMaxPushBytes / 4) return Error::BadRequest;
    void* params[kMaxLaunchBindings + kMaxPushBytes / 4];
    size_t i = 0;
    for (const DeviceBufferHandle& b : buffers) params[i++] = const_cast<DeviceBufferHandle*>(&b);
    for (const uint32_t& w : words) params[i++] = const_cast<uint32_t*>(&w);
    const uint32_t grid_x = shape.warp_kernel ? blocks * (shape.block_threads / 32) : blocks;

    const CoreDeviceOps ops = backend().deviceOps();
    const KernelTiming timing = timed ? beginKernelTiming(ops, timed->record_timings, timed->pending_timings, label, 0)
                                      : KernelTiming{0, false};
    const Error launched = g_enc_launch_kernel(kernel, grid_x, 1, 1, shape.block_threads, 1, 1, 0, 0, params,
                                               nullptr, nullptr);
    if (timing.ok) ops.eventRecord(timing.end, 0);
    return launched;
}

}  // namespace kvn
