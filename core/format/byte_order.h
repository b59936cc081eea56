// Little-endian loads and stores. The frame format is little-endian
// throughout; memcpy keeps unaligned accesses defined.
#pragma once

#include <cstdint>
#include <cstring>

namespace kvn {

inline uint32_t loadLe32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t loadLe64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline float loadLeF32(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storeLe32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

inline void storeLe64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the loads above assume a little-endian host");

}  // namespace kvn
