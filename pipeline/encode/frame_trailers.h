// The integrity trailers a frame's header announces: the XXH32 content
// checksum, then the chunk Merkle root.
#pragma once

#include <cstdint>

#include "core/encode/encode_params.h"
#include "core/encode/frame_header_writer.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// The trailers cover the frame input src[0, len) (frame_source.h).
// Appends the trailers after the `written` bytes of the frame at dst.
// DestinationTooSmall when one does not fit in cap. A root the body already
// appended stays last, after the checksum. Otherwise the root is the one the
// word transform's road hashed from the caller's bytes on the device, else
// from the leaves the body encode hashed on the device when they are valid,
// else from a device pass over the input, else from the CPU.
WrittenBytes appendTrailers(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, uint64_t written,
                            const EncodeParams& params, EncoderState& encoder);

}  // namespace kvn
