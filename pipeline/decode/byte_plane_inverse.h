// Undoing the byte-plane transform: plane-major blocks back to element-major.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/decoder_state.h"

namespace kvn {

// In place over n bytes of host memory. OutOfMemory when the temporary copy
// cannot be had: the bytes are then still plane-major and must not be used.
Error bytePlaneInverseCpu(uint8_t* bytes, uint64_t n, uint8_t stride, uint64_t block);

// From the plane-major bytes in `planes` to the element-major bytes in
// `elements` (another buffer), both device memory, on `stream`. KernelMissing
// without the kernel; BadMode when n needs more workgroups than one dispatch
// may have (nothing is launched then).
Error bytePlaneInverseGpu(DecoderState& decoder, DeviceBufferHandle planes, DeviceBufferHandle elements, uint64_t n,
                          uint8_t stride, uint64_t block, StreamHandle stream);

}  // namespace kvn
