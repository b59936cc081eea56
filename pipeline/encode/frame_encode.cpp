#include "pipeline/encode/frame_encode.h"

#include <memory>
#include <new>

#include "core/encode/byte_plane_choice.h"
#include "core/format/frame_header.h"
#include "core/platform/platform.h"
#include "pipeline/encode/byte_plane_forward.h"
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
    const std::unique_ptr<uint8_t[]> planes(new (std::nothrow) uint8_t[len]);
    if (!planes) return std::nullopt;
    const uint64_t block = bytePlaneBlockSize(frameChunkSize(chunkFraction(params)), stride);
    if (bytePlaneForwardGpu(src, len, stride, block, encoder, planes.get()) != Error::None) return std::nullopt;
    const WrittenBytes frame = encodeFrameGpu(planes.get(), len, dst, cap, params, encoder);
    if (frame.error == Error::None) dst[kFrameStrideOffset] = stride;
    // The body encode's device leaves hash the planes, not the caller's bytes.
    encoder.merkle_leaves_valid = false;
    return frame;
}

}  // namespace

WrittenBytes compressFrame(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                           EncoderState& encoder) {
    std::optional<WrittenBytes> frame;
    if (const WrtFrameStep wrt = encodeWrtFrame(src, len, dst, cap, params, encoder); wrt.wrote) frame = wrt.frame;
    const uint8_t stride = frame ? 0 : requestedStride(params);
    if (stride) frame = encodeBytePlaneFrame(src, len, dst, cap, params, encoder, stride);
    if (!frame) frame = encodeFrameGpu(src, len, dst, cap, params, encoder);
    if (frame->error != Error::None) return *frame;
    return appendTrailers(src, len, dst, cap, frame->size, params, encoder);
}

}  // namespace kvn
