// The decode of a WRT frame: its section, the LZ body (the transformed
// text), the inverse transform on the GPU or, failing that, on the CPU, and
// the trailers, which cover the untransformed text.
#pragma once

#include <cstdint>

#include "core/format/frame_header.h"
#include "pipeline/decode/host_frame_decode.h"

namespace kvn {

FrameResult decodeWrtFrame(const FrameHeader& header, const uint8_t* frame, uint64_t frame_len, uint8_t* dst,
                           uint64_t dst_cap, DecoderState& decoder, const OutputTarget& target);

}  // namespace kvn
