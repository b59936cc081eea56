#include "core/format/compress_bound.h"

#include "core/format/size_math.h"

namespace kvn {

uint64_t compressBound(uint64_t n) {
    // Each term is far below 2^64 on its own; only adding n can overflow.
    const uint64_t overhead = 3 * (n / 65536) + 308 * ceilDiv(n, 131072) + 22 * ceilDiv(n, 262144) + 108;
    return saturatingAdd(n, overhead);
}

}  // namespace kvn
