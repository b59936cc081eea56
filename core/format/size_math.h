// Size arithmetic that cannot wrap: sizes read from frames are untrusted, and
// a wrapped sum would make a reader trust a length it does not hold.
#pragma once

#include <cstdint>

namespace kvn {

// d must not be 0.
constexpr uint64_t ceilDiv(uint64_t n, uint64_t d) { return n / d + (n % d != 0); }

constexpr uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    uint64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}

constexpr uint64_t saturatingMul(uint64_t a, uint64_t b) {
    uint64_t product;
    return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

}  // namespace kvn
