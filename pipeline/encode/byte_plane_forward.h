// The byte-plane transform of a frame's input on the GPU, element-major to
// plane-major, before the frame is encoded.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// Writes the plane-major form of src[0, len) to planes (len bytes), in
// blocks of `block` bytes (bytePlaneBlockSize).
Error bytePlaneForwardGpu(const uint8_t* src, uint64_t len, uint8_t stride, uint64_t block, EncoderState& encoder,
                          uint8_t* planes);

}  // namespace kvn
