// The decode of one frame with the inverse transforms its header announces.
#pragma once

#include <cstdint>

#include "pipeline/decode/host_frame_decode.h"

namespace kvn {

FrameResult decodeFrameVk(const uint8_t* frame, uint64_t frame_len, uint8_t* dst, uint64_t dst_cap,
                          DecoderState& decoder, const OutputTarget& target);

}  // namespace kvn
