// The plan of one compress call: the checks against level, size and output
// bound, the dictionary, and the frames the input becomes.
#pragma once

#include <cstdint>

#include "core/encode/encode_params.h"
#include "core/encode/frame_header_writer.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// Job results are signed 32-bit: no input or output size of 2^31 or more.
inline constexpr uint64_t kMaxResultSize = 0x7FFFFFFF;

// Compresses src[0, len) into dst as consecutive frames; the total size.
// The whole input is one frame: cutting it at a frame cap is not built yet,
// and one frame holds any input below 2^31 bytes.
WrittenBytes compressFrames(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                            EncoderState& encoder);

}  // namespace kvn
