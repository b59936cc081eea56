// The smallest match distance a frame's LZ parse may use.
#pragma once

#include <cstdint>

namespace kvn {

inline constexpr uint32_t kDefaultMinDistance = 8;
inline constexpr uint32_t kMaxMinDistance = 0xFFFF;

// The option, or KVN_MIN_DIST when the option asks for 8 or less and the
// variable holds a decimal of 9 or more; capped at 0xFFFF. A dictionary match
// and the chain parse have no floor gates, so with `gateless` the floor is 8,
// and the first time in the process that a larger one was asked the line
// `notice` is printed.
uint32_t minDistanceFloor(uint32_t requested, bool gateless, const char* notice);

}  // namespace kvn
