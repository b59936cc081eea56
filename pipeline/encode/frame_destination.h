// Frames for a caller's device destination. The body is assembled on the
// device and copied to its place in dev_dst; what the host writes (header
// patches, chunk-size table, trailers, whole stored and empty frames) follows
// it there once the frame is complete. Each frame goes to the offset it has
// in the host output, so the host's capacity checks bound every device write.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/encoder_state.h"

namespace kvn {

inline bool destinationOnDevice(const EncoderState& encoder) { return encoder.dev_dst != 0; }

// Copies the first `bytes` of the assembled frame in `frame` to the running
// frame's place in dev_dst.
Error placeAssembledFrame(EncoderState& encoder, DeviceBufferHandle frame, uint64_t bytes);

// The running frame is complete at host `frame` (size bytes): the bytes the
// device destination does not hold yet are copied there, and the result
// counts as being on the device.
Error completeDeviceFrame(EncoderState& encoder, const uint8_t* frame, uint64_t size);

}  // namespace kvn
