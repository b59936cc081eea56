#include "pipeline/encode/frame_encode.h"

#include "pipeline/encode/frame_trailers.h"
#include "pipeline/encode/frame_writer.h"

namespace kvn {

WrittenBytes compressFrame(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                           EncoderState& encoder) {
    const WrittenBytes frame = encodeFrameGpu(src, len, dst, cap, params, encoder);
    if (frame.error != Error::None) return frame;
    return appendTrailers(src, len, dst, cap, frame.size, params, encoder);
}

}  // namespace kvn
