// The Vulkan layer's result codes as the named errors the pipelines see.
#pragma once

#include <cstdint>

#include "core/errors.h"

namespace kvn {

// The device layer's refusal of a bad, dead or unsupported request; outside
// every VkResult, so it is never mistaken for one.
inline constexpr int32_t kVkRequestRefused = INT32_MIN;

// 0 is None; the refusal, memory exhaustion and a lost device (or a fence
// wait that gave up) keep their names; any other code is DeviceCallFailed.
Error errorFromVkResult(int32_t code);

}  // namespace kvn
