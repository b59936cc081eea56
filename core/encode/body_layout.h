// Where the pieces of a compressed frame body go, computed on the host from
// the measured sub-chunk sizes: each sub-chunk's place in the assembled area,
// each chunk's choice between a compressed and a raw record, the record
// offsets in the frame, the chunk-prefix area and the end mark.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/encode/chunk_descriptors.h"
#include "core/errors.h"
#include "kernels/format_constants.h"

namespace kvn {

inline constexpr uint32_t kRawChunk = 0xFFFFFFFF;
inline constexpr uint32_t kSubChunkHeaderBytes = KVN_SUBCHUNK_HDR_BYTES;
inline constexpr uint32_t kCompressedChunkHeaderBytes = 6;
inline constexpr uint32_t kRawChunkHeaderBytes = 2;
inline constexpr uint32_t kChunkPrefixBytes = KVN_CHUNK_PREFIX_BYTES;  // leading bytes of every later chunk, kept at the block's tail
inline constexpr uint32_t kBlockHeaderBytes = KVN_BLOCK_HDR_BYTES;
inline constexpr uint8_t kChunkHeaderByte0 = 0x55;
inline constexpr uint8_t kChunkHeaderByte1 = 0x01;

// Offsets of the sub-chunks (header included) in the assembled area, packed
// in order (a sub-chunk measured 0, whose LZ output could not be walked,
// keeps just its header; its chunk is stored raw); ContentSizeTooLarge past
// 32-bit offsets.
Error placeSubChunks(std::span<const uint32_t> measured, std::vector<uint32_t>& offsets, uint64_t* total);

struct BodyLayout {
    // Per chunk: its first sub-chunk's assembled offset, or kRawChunk.
    std::vector<uint32_t> body_offsets;
    std::vector<uint32_t> payload_lengths;
    std::vector<uint32_t> record_offsets;  // in the frame
    uint64_t block_payload = 0;            // the block header's length
    uint64_t records_end = 0;              // E: where the chunk-prefix area starts
    uint64_t end_mark = 0;                 // offset of the u32 end mark
    uint64_t frame_len = 0;                // F: through the end mark
};

// A chunk is compressed when its assembled sub-chunks with their headers are
// smaller than its bytes and no sub-chunk's LZ output reached its length,
// failed (LZ size 0) or could not be measured; otherwise it is raw.
// ContentSizeTooLarge when the frame needs offsets past 32 bits or a block
// payload past the block header's length field.
Error layoutBody(std::span<const CompressChunkDesc> descs, std::span<const uint32_t> lz_sizes,
                 std::span<const uint32_t> measured, std::span<const uint32_t> sub_offsets, uint64_t chunk,
                 uint64_t len, uint64_t header_len, BodyLayout* layout);

// One chunk-size table entry: the record's length.
inline uint32_t chunkRecordLength(const BodyLayout& layout, uint64_t c) {
    return layout.payload_lengths[c] +
           (layout.body_offsets[c] == kRawChunk ? kRawChunkHeaderBytes : kCompressedChunkHeaderBytes);
}

}  // namespace kvn
