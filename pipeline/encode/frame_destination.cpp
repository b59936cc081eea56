#include "pipeline/encode/frame_destination.h"

#include "core/encode/frame_header_writer.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/encode/encoder_buffers.h"

namespace kvn {
namespace {

// Host bytes to dev_dst at `offset` from the running frame's start.
Error copyHostBytes(EncoderState& encoder, const uint8_t* bytes, uint64_t count, uint64_t offset) {
    if (count == 0) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD || !ops.memcpyDtoDDstOffsetAsync) return Error::GpuPipelineFailed;
    DeviceBuffer& patch = encoderBuffer(encoder, kDestinationPatch);
    KVN_TRY(ensureEncodeDeviceBuffer(patch, count));
    KVN_TRY(ops.memcpyHtoD(patch.handle, bytes, count));
    return ops.memcpyDtoDDstOffsetAsync(encoder.dev_dst, patch.handle, encoder.dev_dst_offset + offset, count, 0);
}

}  // namespace

Error placeAssembledFrame(EncoderState& encoder, DeviceBufferHandle frame, uint64_t bytes) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoDDstOffsetAsync) return Error::GpuPipelineFailed;
    KVN_TRY(ops.memcpyDtoDDstOffsetAsync(encoder.dev_dst, frame, encoder.dev_dst_offset, bytes, 0));
    encoder.frame_bytes_on_device = bytes;
    return Error::None;
}

Error completeDeviceFrame(EncoderState& encoder, const uint8_t* frame, uint64_t size) {
    const uint64_t on_device = encoder.frame_bytes_on_device;
    encoder.frame_bytes_on_device = 0;
    // A byte-plane frame's stride is set in the host header after its body
    // was assembled with a 0 there.
    if (on_device > kFrameStrideOffset)
        KVN_TRY(copyHostBytes(encoder, frame + kFrameStrideOffset, 1, kFrameStrideOffset));
    KVN_TRY(copyHostBytes(encoder, frame + on_device, size - on_device, on_device));
    encoder.result_on_device = true;
    return Error::None;
}

}  // namespace kvn
