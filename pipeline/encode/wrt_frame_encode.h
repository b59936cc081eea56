// The WRT step of a frame: the GPU transform first, the CPU transform when
// the GPU road fails, and the plain frame when the transform does not pay.
#pragma once

#include <cstdint>

#include "core/encode/encode_params.h"
#include "core/encode/frame_header_writer.h"
#include "core/handle/encoder_state.h"

namespace kvn {

struct WrtFrameStep {
    // True when this step wrote the frame (a WRT frame, or the plain frame
    // the GPU road asks for); false when the frame continues without WRT.
    bool wrote = false;
    WrittenBytes frame{0, Error::None};
};

// Header and body of src[0, len) at dst with the word transform when it
// applies; the trailers, over src, are the caller's. OutOfMemory of the CPU
// transform and errors of the frame writer come back in `frame`.
WrtFrameStep encodeWrtFrame(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                            EncoderState& encoder);

}  // namespace kvn
