#include "pipeline/encode/byte_plane_forward.h"

#include "core/format/size_math.h"
#include "core/platform/platform.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/encode_launch.h"
#include "pipeline/encode/encoder_buffers.h"
#include "pipeline/encode/frame_source.h"

namespace kvn {
namespace {

constexpr EncodeKernelShape kBytePlaneShape{256, false};

}  // namespace

Error bytePlaneForwardGpu(const uint8_t* src, uint64_t len, uint8_t stride, uint64_t block, EncoderState& encoder,
                          DeviceBufferHandle* planes) {
    const GpuOpsTable& ops = gpuOps();
    if (!ensureEncodePipelines()) return Error::BackendNotAvailable;
    const std::optional<KernelHandle> kernel = getEncodePipeline(&EncodeKernelHandles::byte_plane_deinterleave_fn);
    if (!kernel || !ops.ctxSynchronize) return Error::KernelMissing;
    // The kernel indexes bytes in 32 bits.
    if (len > UINT32_MAX || block > UINT32_MAX) return Error::ContentSizeTooLarge;
    DeviceBuffer& source = encoderBuffer(encoder, kPlaneSource);
    DeviceBuffer& output = encoderBuffer(encoder, kPlaneOutput);
    KVN_TRY(ensureEncodeDeviceBuffers({{&source, len}, {&output, len}}));
    KVN_TRY(copySourceToDevice(src, len, encoder, source.handle));
    KVN_TRY(launchEncodeKernel(&encoder, "kvnBytePlaneDeinterleaveKernel", *kernel, kBytePlaneShape,
                               static_cast<uint32_t>(ceilDiv(len, kBytePlaneShape.block_threads)),
                               {source.handle, output.handle},
                               {static_cast<uint32_t>(len), stride, static_cast<uint32_t>(block)}));
    KVN_TRY(ops.ctxSynchronize());
    *planes = output.handle;
    return Error::None;
}

}  // namespace kvn
