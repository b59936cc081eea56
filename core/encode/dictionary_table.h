// The dictionary position table the LZ kernels search for matches in a
// dictionary: 2^bits u32 entries, indexed by the LZ hash of six bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace kvn {

inline constexpr uint32_t kEmptyTableEntry = 0xFFFFFFFF;

// The LZ hash: the top `bits` bits of the little-endian u64 at p times
// 0x79B97F4A7C150000, so that only p's first six bytes count.
uint32_t lzHash(uint64_t eight_bytes, uint32_t bits);

// Every position i with i + 8 <= length in increasing order, so the table
// keeps the last position of each hash; all entries empty below 8 bytes.
// Empty on OutOfMemory.
std::vector<uint32_t> buildDictionaryTable(const uint8_t* data, uint64_t length, uint32_t bits);

}  // namespace kvn
