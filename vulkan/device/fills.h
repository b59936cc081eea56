// Byte fills of device buffers. The fill runs in whole words from offset 0,
// so up to 3 bytes after `count` are written too (never past the buffer).
#pragma once

#include <cstdint>

#include "vulkan/device/gpu_ops.h"

namespace kvn {

// -1 when `count` exceeds the buffer; a zero count does nothing.
int32_t procMemsetD8(DeviceBufferHandle buffer, uint32_t value, uint64_t count);
int32_t procMemsetD8Async(DeviceBufferHandle buffer, uint32_t value, uint64_t count, StreamHandle stream);

}  // namespace kvn
