// One frame's header and body: the empty form, the stored form for inputs of
// at most 128 bytes, or the compressed body from the GPU.
#pragma once

#include <cstdint>
#include <span>

#include "core/encode/encode_params.h"
#include "core/encode/frame_header_writer.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// What a frame's body encodes: the caller's bytes, or a transformed form of
// them, whose device Merkle leaves would not be the caller's.
enum class FrameInput : uint8_t { Caller, Transformed };

// Header and body of the frame of src[0, len) at dst; no trailers. params.level is 1 to 5.
// A WRT frame passes its section, and src is then the transformed text.
WrittenBytes encodeFrameGpu(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                            EncoderState& encoder, std::span<const uint8_t> wrt_section = {},
                            FrameInput input = FrameInput::Caller);

}  // namespace kvn
