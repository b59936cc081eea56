// Which byte-plane stride a frame gets: the one the caller or KVN_BYTE_PLANE
// names, or the automatic choice from the order-0 entropy of a sample.
#pragma once

#include <cstdint>

namespace kvn {

// The stride KVN_BYTE_PLANE asks for: unset is none (0); empty or "1" is 2;
// otherwise a listed stride in decimal, anything else none.
uint8_t bytePlaneStrideFromText(const char* text);

// How many bytes of the input the automatic choice looks at, at most.
inline constexpr uint64_t kBytePlaneSampleBytes = 65536;

// The automatic choice over the first min(n, 65536) bytes of text: 0 for
// none (fewer than 32 bytes, an entropy under 1 bit per byte, or no stride
// whose mean plane entropy beats 0.8 times the best so far).
uint8_t chooseBytePlaneStride(const uint8_t* text, uint64_t n);

}  // namespace kvn
