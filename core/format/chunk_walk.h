// The host walk over the chunk records of one compressed block: checks every
// record and turns the block into KvnChunkDesc entries for the decode kernels.
#pragma once

#include <cstdint>
#include <span>

#include "core/errors.h"
#include "core/format/chunk_records.h"

namespace kvn {

struct ChunkWalk {
    uint32_t chunk_count = 0;      // descriptors written: ceil(raw size / chunk size)
    uint32_t chunks_per_item = 0;  // consecutive chunks one LZ work item decodes in order
    bool has_prefix_area = false;  // the payload ends in 8 bytes per chunk after the first
    uint64_t prefix_area_off = 0;  // payload offset of that area
};

// Walks the block payload that decodes to raw_size bytes in chunks of
// chunk_size (1..262144) and fills descs[0 .. chunk_count). dst_base is the
// decoded offset of the block in the output buffer; sc_group_size is the
// frame's chunk fraction (it sets how many chunks one work item decodes).
// Errors: Truncated, InvalidInternalHeader, BadChunkHeader, BadFrame (more
// than 65536 chunks, or offsets beyond 32 bits), BufferTooSmall (descs).
Error walkChunks(std::span<const uint8_t> payload, uint64_t raw_size, uint32_t chunk_size,
                 float sc_group_size, uint64_t dst_base, std::span<KvnChunkDesc> descs,
                 ChunkWalk* walk);

// A coded chunk with bytes to decode: its sub-chunks carry LZ streams.
bool holdsStreams(const KvnChunkDesc& desc);

// Sub-chunks a chunk holds as the descriptor kernels count them: 1 for a
// stored, byte-fill or empty chunk, else ceil(decoded size / subchunk_size)
// with 0 read as KVN_SUBCHUNK_SIZE_DEFAULT.
uint32_t chunkSubChunkCount(const KvnChunkDesc& desc, uint32_t subchunk_size);

// Exclusive prefix sum of chunkSubChunkCount over descs into starts (one per
// chunk); returns the total.
uint64_t subChunkStarts(std::span<const KvnChunkDesc> descs, uint32_t subchunk_size,
                        uint32_t* starts);

// Restores the first bytes of chunks 1.. from the chunk-prefix area after the
// block has been decoded; block_out is the block's first decoded byte. Does
// nothing when the walk found no area.
void applyChunkPrefixes(std::span<const uint8_t> payload, const ChunkWalk& walk,
                        uint64_t raw_size, uint32_t chunk_size, uint8_t* block_out);

}  // namespace kvn
