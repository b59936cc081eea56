// Undoing the byte-plane transform: plane-major blocks back to element-major.
#pragma once

#include <cstdint>

#include "core/errors.h"

namespace kvn {

// In place over n bytes of host memory. OutOfMemory when the temporary copy
// cannot be had: the bytes are then still plane-major and must not be used.
Error bytePlaneInverseCpu(uint8_t* bytes, uint64_t n, uint8_t stride, uint64_t block);

}  // namespace kvn
