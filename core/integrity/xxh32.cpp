#include "core/integrity/xxh32.h"

#include <bit>

#include "core/format/byte_order.h"

namespace kvn {
namespace {

constexpr uint32_t kPrime1 = 0x9E3779B1;
constexpr uint32_t kPrime2 = 0x85EBCA77;
constexpr uint32_t kPrime3 = 0xC2B2AE3D;
constexpr uint32_t kPrime4 = 0x27D4EB2F;
constexpr uint32_t kPrime5 = 0x165667B1;

inline uint32_t stripeRound(uint32_t acc, uint32_t input) {
    return std::rotl(acc + input * kPrime2, 13) * kPrime1;
}

}  // namespace

uint32_t xxh32(const uint8_t* data, uint64_t len) {
    const uint8_t* p = data;
    const uint8_t* const end = data + len;
    uint32_t h;

    if (len >= 16) {
        // Four independent accumulators over 16-byte stripes.
        uint32_t v1 = kPrime1 + kPrime2;
        uint32_t v2 = kPrime2;
        uint32_t v3 = 0;
        uint32_t v4 = 0u - kPrime1;
        const uint8_t* const last_stripe = end - 16;
        do {
            v1 = stripeRound(v1, loadLe32(p));
            v2 = stripeRound(v2, loadLe32(p + 4));
            v3 = stripeRound(v3, loadLe32(p + 8));
            v4 = stripeRound(v4, loadLe32(p + 12));
            p += 16;
        } while (p <= last_stripe);
        h = std::rotl(v1, 1) + std::rotl(v2, 7) + std::rotl(v3, 12) + std::rotl(v4, 18);
    } else {
        h = kPrime5;
    }
    h += static_cast<uint32_t>(len);  // the length enters modulo 2^32

    for (; end - p >= 4; p += 4) h = std::rotl(h + loadLe32(p) * kPrime3, 17) * kPrime4;
    for (; p < end; ++p) h = std::rotl(h + *p * kPrime5, 11) * kPrime1;

    h ^= h >> 15;
    h *= kPrime2;
    h ^= h >> 13;
    h *= kPrime3;
    h ^= h >> 16;
    return h;
}

}  // namespace kvn
