// The chunk Merkle root: one leaf per chunk of a buffer, folded with XXH32.
// The device kernels compute the same leaves and root bit for bit.
#pragma once

#include <cstdint>

#include "core/errors.h"

namespace kvn {

// XXH32 of no bytes: the root of an empty buffer.
inline constexpr uint32_t kEmptyMerkleRoot = 0x02CC5D05;
// The root's trailer: one little-endian u32.
inline constexpr uint64_t kMerkleRootBytes = 4;

// Each word's multiplier is its absolute byte offset plus this bias.
inline constexpr uint32_t kMerkleOffsetBias = 0x9E3779B1;

struct MerkleRoot {
    uint32_t root;
    Error error;
};

// The root over n bytes with leaves of leaf_size bytes (callers derive it
// from a valid chunk fraction, so it is at least 1). Buffers of 8 chunks or
// more are hashed on up to 16 threads. Fails only with OutOfMemory (the leaf
// array), or BadScGroupSize for a leaf size of 0.
MerkleRoot chunkMerkleRoot(const uint8_t* data, uint64_t n, uint64_t leaf_size);

// The same root with `processors` standing in for the machine's processor
// count, which fixes the number of lanes (tests compare 1, 2 and 16).
MerkleRoot chunkMerkleRoot(const uint8_t* data, uint64_t n, uint64_t leaf_size, uint32_t processors);

// The leaf of the chunk [begin, end) of data: the wrapping sum over its whole
// little-endian words w at absolute offset o of (o + kMerkleOffsetBias) * w.
// Trailing bytes that do not fill a word add nothing.
uint32_t chunkMerkleLeaf(const uint8_t* data, uint64_t begin, uint64_t end);

}  // namespace kvn
