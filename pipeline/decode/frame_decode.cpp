#include "pipeline/decode/frame_decode.h"

#include "core/format/frame_header.h"
#include "pipeline/decode/byte_plane_inverse.h"
#include "pipeline/decode/wrt_frame_decode.h"

namespace kvn {

FrameResult decodeFrameVk(const uint8_t* frame, uint64_t frame_len, uint8_t* dst, uint64_t dst_cap,
                          DecoderState& decoder, const OutputTarget& target) {
    const FrameHeader header = parseFrameHeader(frame, frame_len);
    if (header.error != Error::None) return {0, Error::BadFrame};
    if (header.flags & kFrameWrtSection) return decodeWrtFrame(header, frame, frame_len, dst, dst_cap, decoder, target);
    const uint8_t stride = header.byte_plane_stride;
    if (stride < 2) return decodeHostFrame(frame, frame_len, dst, dst_cap, decoder, target);

    // The encoder computes the trailers over its element-major input, so they
    // are checked once the planes are interleaved again.
    const FrameResult planes =
        decodeHostFrame(frame, frame_len, dst, dst_cap, decoder, target, TrailerChecks::LeaveToCaller);
    if (planes.error != Error::None) return planes;
    // Device output comes only from the WRT road, which never carries planes;
    // the GPU inverse waits for its kernel.
    if (target.on_device) return {0, Error::BadMode};
    const uint64_t block = bytePlaneBlockSize(frameChunkSize(header.sc_group_size), stride);
    if (Error e = bytePlaneInverseCpu(dst, planes.bytes, stride, block); e != Error::None) return {0, e};
    const int32_t verdict = decoder.verdict_cell ? *decoder.verdict_cell : kVerdictNone;
    if (Error e = checkFrameTrailers(header, frame, frame_len, dst, planes.bytes, decoder, verdict); e != Error::None)
        return {0, e};
    return planes;
}

}  // namespace kvn
