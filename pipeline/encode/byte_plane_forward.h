// The byte-plane transform of a frame's input on the GPU, element-major to
// plane-major, before the frame is encoded.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// Writes the plane-major form of the frame input src[0, len)
// (frame_source.h), in blocks of `block` bytes (bytePlaneBlockSize), to the
// encoder's device buffer *planes (len bytes), which keeps it until the next
// transform.
Error bytePlaneForwardGpu(const uint8_t* src, uint64_t len, uint8_t stride, uint64_t block, EncoderState& encoder,
                          DeviceBufferHandle* planes);

}  // namespace kvn
