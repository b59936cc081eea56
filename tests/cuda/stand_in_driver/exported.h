// What the stand-in's exported entry points share: their linkage and the
// launch counter.
#pragma once

#include <cstdint>

#define KVN_STAND_IN_EXPORT extern "C" __attribute__((visibility("default")))

namespace kvn::stand_in {

uint64_t launchCount();

}  // namespace kvn::stand_in
