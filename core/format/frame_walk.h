// Walking one frame: block headers, the end of the body, and the trailers
// that follow it.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/format/frame_header.h"
#include "kernels/format_constants.h"

namespace kvn {

inline constexpr uint64_t kBlockHeaderSize = KVN_BLOCK_HDR_BYTES;
inline constexpr uint64_t kEndMarkSize = KVN_END_MARK_BYTES;
inline constexpr uint64_t kTrailerSize = KVN_FRAME_TRAILER_BYTES;
inline constexpr uint64_t kChunkTableEntrySize = KVN_CHUNK_TABLE_ENTRY_BYTES;

struct BlockHeader {
    uint32_t payload_length;  // below 2^30
    uint32_t raw_size;        // bytes the block decodes to
    bool skip;                // stepped over; its raw size does not count
    bool stored;              // the payload is the raw bytes
};

// Reads the 8 bytes at bytes; the caller holds them.
BlockHeader readBlockHeader(const uint8_t* bytes);

// A stored block of no bytes ends the frame after its 8 header bytes.
inline bool endsFrame(const BlockHeader& block) { return block.payload_length == 0 && !block.skip; }

// Bytes of the chunk-size table for a frame whose counted blocks decode to
// raw_total bytes; chunk_size is at least 1.
uint64_t chunkTableLength(uint64_t raw_total, uint64_t chunk_size);

// The Merkle root is always a frame's last word; the checksum is the word
// before it when both are present. The caller holds a frame long enough for
// the trailers it asks about.
inline uint64_t merkleRootOffset(uint64_t frame_length) { return frame_length - kTrailerSize; }
inline uint64_t checksumOffset(uint64_t frame_length, bool has_merkle_root) {
    return frame_length - kTrailerSize * (has_merkle_root ? 2 : 1);
}

struct FrameLength {
    uint64_t length;
    uint64_t raw_total;  // what the counted blocks decode to
    // The body met the end of the bytes given before its end mark, holding
    // less than the header's content size: the frame was cut off there.
    bool cut_off;
    Error error;
};

// The byte length of the one frame at bytes, trailers included. Any header
// error is BadFrame. The length may exceed `available` (a frame cut short, or
// a header longer than the bytes given); callers compare it with what they
// hold. Nothing beyond `available` is read.
FrameLength frameTotalLength(const uint8_t* bytes, uint64_t available);

// One step of a walk over concatenated frames. Fewer than 14 bytes left, or
// bytes without the magic, end the input: such a tail is tolerated. What
// starts with the magic is a frame, and a refused header or a frame that runs
// past the input is BadFrame: the size calls and the decoders must answer a
// cut-off tail alike, and dropping it would lose the caller's data.
struct FrameStep {
    bool ends_input;
    FrameHeader header;  // of a good frame
    uint64_t length;     // trailers included; within the input
    uint64_t raw_total;  // what the counted blocks decode to
    Error error;
};
FrameStep nextFrame(const uint8_t* input, uint64_t input_len, uint64_t pos);

}  // namespace kvn
