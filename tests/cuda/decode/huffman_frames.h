// Hand-built level-3 frames whose every sub-chunk has all four streams
// Huffman-coded (literals, tokens, both off16 halves), which the encoders
// write only for large sub-chunks: small frames of many such sub-chunks.
#pragma once

#include <cstdint>

#include "tests/cuda/decode/vulkan_frames.h"

namespace kvn::test {

inline constexpr uint32_t kHuffmanChunk = 1024;

// `chunks` coded 1 KiB chunks of one sub-chunk each: literals, one match at
// distance 33 (a new-distance token and a repeat), literals. No trailers.
Bytes fourHuffmanStreamsFrame(uint32_t chunks, uint32_t seed);

}  // namespace kvn::test
