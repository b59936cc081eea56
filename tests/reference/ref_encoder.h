// Reference encoder of a compressed block: splits the input into chunks and
// sub-chunks as the GPU encoder does, parses groups of sub-chunks with the
// reference LZ parse, assembles sub-chunks (optionally with Huffman streams),
// and writes each chunk as a coded or stored record (or a byte-fill record
// when asked), followed by the chunk-prefix area.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ref_lz_encode.h"

namespace kvn::ref {

struct EncodeOptions {
    float sc_group_size = 0.25f;  // chunk fraction of the frame (the default one)
    bool huffman = false;        // level code 3 and up: Huffman-code the streams that shrink
    LzParams lz;
    bool fill_chunks = false;    // write single-byte chunks as byte-fill records
};

struct EncodedBlock {
    std::vector<uint8_t> payload;        // chunk records, then the chunk-prefix area
    std::vector<uint32_t> record_sizes;  // one per chunk: the chunk-size table entries
    uint64_t raw_size = 0;
};

// The settings of the GPU encoder's greedy parse at levels 1 to 4: hash bits
// 14, 16, 15, 15; inserts inside matches at levels 2 and 4; Huffman streams
// from level 3.
EncodeOptions encodeOptionsForLevel(int level, float sc_group_size);

// Sub-chunks per LZ group: max(1, ceil(trunc(f * 262144) / sub-chunk size)).
uint32_t subChunksPerGroup(float sc_group_size);

// Encodes input (at least 8 bytes) as one compressed block.
EncodedBlock encodeBlock(std::span<const uint8_t> input, const EncodeOptions& options);

}  // namespace kvn::ref
