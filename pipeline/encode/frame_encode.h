// One slice of the input made into one complete frame: header, body and trailers.
#pragma once

#include <cstdint>

#include "core/encode/encode_params.h"
#include "core/encode/frame_header_writer.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// The frame of src[0, len) at dst. With `wrt` the body holds the word-
// transformed text when the transform pays (its trailers still cover src).
// Otherwise, with a byte-plane stride (the caller's or KVN_BYTE_PLANE's) that
// divides len, the body holds the plane-major form; when that transform
// cannot be made the frame is written plain.
WrittenBytes compressFrame(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                           EncoderState& encoder);

}  // namespace kvn
