// The byte-plane layout written from its definition: within each block of
// `block` bytes (the whole input when 0), byte b of element e moves from
// e * w + b to b * E + e; a block shorter than w or not a multiple of w stays.
#pragma once

#include <cstdint>
#include <vector>

namespace kvn::ref {

std::vector<uint8_t> bytePlanes(const std::vector<uint8_t>& in, uint8_t w, uint64_t block);

}  // namespace kvn::ref
