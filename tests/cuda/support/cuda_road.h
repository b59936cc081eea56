// The CUDA library as the device-road tests drive it: its handle and its
// device-pointer decode call, kvnDecompressAsync.
#pragma once

#include "tests/support/device_road.h"

namespace kvn::test {

// kvnDecompressAsync returns no size: on success the road reports the
// frames' total.
extern const RoadLibrary kCudaRoad;

}  // namespace kvn::test
