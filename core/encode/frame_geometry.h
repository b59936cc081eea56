// How a frame's input is cut: chunks of the chunk fraction of 262144 bytes,
// each cut into sub-chunks of at most 131072 bytes, and the groups of
// sub-chunks that one LZ work item parses with one match window.
#pragma once

#include <cstdint>

#include "kernels/format_constants.h"

namespace kvn {

inline constexpr uint64_t kMaxSubChunkSize = KVN_SUBCHUNK_SIZE;
// More chunks than this and the frame body is one stored block, unless the
// device layer compresses more (the decoders' tables hold 65,536).
inline constexpr uint64_t kMaxCompressedChunks = 16384;
// Inputs up to this many bytes are stored; the LZ stage needs the frame's
// first 8 bytes raw and a body worth parsing.
inline constexpr uint64_t kMaxStoredInput = 128;
// The frame's first sub-chunk carries the frame's first 8 bytes raw.
inline constexpr uint32_t kFramePrefixBytes = KVN_FRAME_PREFIX_BYTES;

struct FrameGeometry {
    uint64_t chunk;           // chunk size in bytes
    uint64_t chunks;          // n: ceil(len / chunk)
    uint64_t sub;             // sub-chunk size
    uint64_t sub_chunks;      // aw: over all chunks
    uint64_t subs_per_group;  // spc: sub-chunks that share one match window
};

// The geometry of len > 0 bytes at a valid chunk fraction.
FrameGeometry frameGeometry(uint64_t len, float sc_group_size);

// More chunks than the library compresses in one frame (`max_chunks`), or
// chunks too short to hold the frame's 8 leading bytes in its first
// sub-chunk: the body is one stored block.
inline bool storedFrame(const FrameGeometry& g, uint64_t max_chunks) {
    return g.chunks > max_chunks || g.chunk < kFramePrefixBytes;
}

// Length of sub-chunk `index` within a chunk of chunk_len bytes.
inline uint64_t subChunkLength(uint64_t chunk_len, uint64_t sub, uint64_t index) {
    const uint64_t begin = index * sub;
    return chunk_len - begin < sub ? chunk_len - begin : sub;
}

}  // namespace kvn
