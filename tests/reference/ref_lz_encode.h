// Reference greedy LZ parse of one group of sub-chunks, following the rules of
// the GPU greedy kernels step for step (27 positions per scan step, candidate
// order, table inserts, step growth on literal runs, sequence emission), so
// its streams are the ones those kernels must produce.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ref_subchunk.h"

namespace kvn::ref {

struct LzParams {
    uint32_t hash_bits = 14;
    bool insert_in_matches = false;
    uint32_t min_distance = 8;               // the floor; at least 8
    std::span<const uint8_t> dictionary;     // lies just before the group
};

// The LZ hash of the six bytes at p (little-endian 48-bit value).
uint32_t lzHash(uint64_t six_bytes, uint32_t bits);

// Parses the group at group[0 .. sum of lens) whose sub-chunks have the given
// lengths. frame_first: the group's first sub-chunk opens the frame (it keeps
// its first 8 bytes raw and must be at least 8 bytes long).
std::vector<SubChunkStreams> lzEncodeGroup(const uint8_t* group, std::span<const uint32_t> lens,
                                           bool frame_first, const LzParams& params);

}  // namespace kvn::ref
