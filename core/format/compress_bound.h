// The worst-case compressed size the interface promises for n input bytes.
#pragma once

#include <cstdint>

namespace kvn {

// n + 3*floor(n/65536) + 308*ceil(n/131072) + 22*ceil(n/262144) + 108,
// saturating at UINT64_MAX so a huge n never yields a small bound.
uint64_t compressBound(uint64_t n);

}  // namespace kvn
