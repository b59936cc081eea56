#include "pipeline/encode/frame_encode.h"

#include "core/encode/byte_plane_choice.h"
#include "core/format/frame_header.h"
#include "core/jobs.h"
#include "core/platform/platform.h"
#include "pipeline/encode/byte_plane_forward.h"
#include "pipeline/encode/frame_destination.h"
#include "pipeline/encode/frame_source.h"
#include "pipeline/encode/frame_trailers.h"
#include "pipeline/encode/frame_writer.h"
#include "pipeline/encode/wrt_frame_encode.h"

namespace kvn {
namespace {

// The caller's stride, else the one KVN_BYTE_PLANE names; 0 for none.
uint8_t requestedStride(const EncodeParams& params) {
    return params.byte_plane_stride ? params.byte_plane_stride : bytePlaneStrideFromText(envText("KVN_BYTE_PLANE"));
}

// The frame of the plane-major form of src at dst, or nothing when the
// transform cannot be made (then the frame is written plain). The trailers
// that follow cover the caller's element-major bytes, as the decoder checks
// them after its inverse.
std::optional<WrittenBytes> encodeBytePlaneFrame(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap,
                                                 const EncodeParams& params, EncoderState& encoder, uint8_t stride) {
    if (len < stride || len % stride != 0) return std::nullopt;
    const uint64_t block = bytePlaneBlockSize(frameChunkSize(chunkFraction(params)), stride);
    DeviceBufferHandle planes = 0;
    if (bytePlaneForwardGpu(src, len, stride, block, encoder, &planes) != Error::None) return std::nullopt;
    WrittenBytes frame;
    {
        // The body reads the planes where the transform left them.
        const ScopedFrameSource plane_major(encoder, planes, 0);
        frame = encodeFrameGpu(kDeviceSourcePlaceholder, len, dst, cap, params, encoder, {}, FrameInput::Transformed);
    }
    if (frame.error == Error::None) dst[kFrameStrideOffset] = stride;
    return frame;
}

}  // namespace

WrittenBytes compressFrame(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                           EncoderState& encoder) {
    encoder.source_merkle_root_present = false;
    std::optional<WrittenBytes> frame;
    if (const WrtFrameStep wrt = encodeWrtFrame(src, len, dst, cap, params, encoder); wrt.wrote) frame = wrt.frame;
    const uint8_t stride = frame ? 0 : requestedStride(params);
    if (stride) frame = encodeBytePlaneFrame(src, len, dst, cap, params, encoder, stride);
    if (!frame) frame = encodeFrameGpu(src, len, dst, cap, params, encoder);
    if (frame->error != Error::None) return *frame;
    const WrittenBytes whole = appendTrailers(src, len, dst, cap, frame->size, params, encoder);
    if (whole.error != Error::None || !destinationOnDevice(encoder)) return whole;
    if (const Error e = completeDeviceFrame(encoder, dst, whole.size); e != Error::None) return {0, e};
    return whole;
}

}  // namespace kvn
