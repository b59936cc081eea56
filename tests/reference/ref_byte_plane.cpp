#include "reference/ref_byte_plane.h"

#include <algorithm>

namespace kvn::ref {

std::vector<uint8_t> bytePlanes(const std::vector<uint8_t>& in, uint8_t w, uint64_t block) {
    std::vector<uint8_t> out = in;
    const uint64_t step = block ? block : in.size();
    for (uint64_t s = 0; s < in.size(); s += step) {
        const uint64_t len = std::min<uint64_t>(step, in.size() - s);
        if (len < w || len % w) continue;
        const uint64_t elements = len / w;
        for (uint64_t e = 0; e < elements; ++e)
            for (uint64_t b = 0; b < w; ++b) out[s + b * elements + e] = in[s + e * w + b];
    }
    return out;
}

}  // namespace kvn::ref
