// One slice of the input made into one complete frame: header, body and trailers.
#pragma once

#include <cstdint>

#include "core/encode/encode_params.h"
#include "core/encode/frame_header_writer.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// The frame of src[0, len) at dst. The word transform and the byte-plane
// transform are not applied by this library yet: the planner refuses the
// options that ask for them.
WrittenBytes compressFrame(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                           EncoderState& encoder);

}  // namespace kvn
