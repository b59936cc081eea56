// Device-only handles: values from a process-wide window [2^62, 2^62 + 2^40)
// that name device memory the caller manages without a buffer of ours.
#pragma once

#include <cstdint>

#include "core/errors.h"

namespace kvn {

inline constexpr uint64_t kDeviceOnlyWindowStart = uint64_t{1} << 62;
inline constexpr uint64_t kDeviceOnlyWindowBytes = uint64_t{1} << 40;

// Recognised anywhere by the top 24 bits.
inline bool isDeviceOnlyHandle(uint64_t value) { return (value >> 40) == 0x400000; }

// Hands out the next `size` bytes of the window (rounded up to 4096, at
// least 4096) in *out. OutOfMemory when the range does not fit in what is
// left of the window; the counter then stays where it is, so it never wraps
// and no two callers ever share a range.
Error takeDeviceOnlyRange(uint64_t size, uint64_t* out);

}  // namespace kvn
