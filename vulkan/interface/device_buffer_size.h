// The size of a device buffer, for the copy exports' bounds check.
#pragma once

#include <cstdint>
#include <optional>

#include "vulkan/device/gpu_ops.h"

namespace kvn {

// The byte size of the live buffer the handle names (its requested size
// rounded up to 4), or nothing for 0, a stale or an unknown handle.
std::optional<uint64_t> deviceBufferSize(DeviceBufferHandle buffer);

}  // namespace kvn
