// Hand-built level-3 frames of many small coded chunks, which the encoders
// do not write: sub-chunks with all four streams Huffman-coded (literals,
// tokens, both off16 halves), the same with stored off16 halves, and
// sub-chunks of stored literals only.
#pragma once

#include <cstdint>

#include "tests/cuda/decode/vulkan_frames.h"

namespace kvn::test {

inline constexpr uint32_t kHuffmanChunk = 1024;

// `chunks` coded 1 KiB chunks of one sub-chunk each: literals, one match at
// distance 33 (a new-distance token and a repeat), literals. No trailers.
Bytes fourHuffmanStreamsFrame(uint32_t chunks, uint32_t seed);

// The same chunks with the off16 halves stored: the literals and tokens
// Huffman-coded.
Bytes storedOffsetHalvesFrame(uint32_t chunks, uint32_t seed);

// `chunks` coded chunks of `chunk_size` bytes (16 to 63), each one sub-chunk
// of literals in a stored stream. No trailers.
Bytes literalChunksFrame(uint32_t chunks, uint32_t chunk_size);

}  // namespace kvn::test
