// XXH32 with seed 0: the content checksum, and the hash that folds Merkle
// leaves into a root.
#pragma once

#include <cstdint>

namespace kvn {

uint32_t xxh32(const uint8_t* data, uint64_t len);

}  // namespace kvn
