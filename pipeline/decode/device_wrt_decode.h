// The decode of a WRT frame that lies in device memory into device memory:
// its section travels to the host (the tables of the inverse come from it),
// its body is decoded on the device into the transformed-text slot, the GPU
// inverse writes the text into the caller's buffer, and the frame's trailers
// are judged over that text.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "pipeline/decode/device_frame_checks.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// On the stream in use. `decoded` is the text length the frame announced when
// it was listed; on success `judged` is the shape whose trailers cover the
// text at the start of `dst`, with its trailer checks queued. BadFrame for a
// section or text that does not invert faithfully.
Error decodeWrtOnStream(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame,
                        DeviceBufferHandle dst, uint64_t decoded, FrameShape* judged);

}  // namespace kvn
