// The fixed frame header and its optional fields: constants, the parsed
// record, and the reader every decode road starts with.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "kernels/format_constants.h"

namespace kvn {

inline constexpr uint32_t kFrameMagic = KVN_FRAME_MAGIC;  // "1NVK" in memory order
inline constexpr uint8_t kFrameVersion = KVN_FRAME_VERSION;
inline constexpr uint64_t kFrameFixedHeaderSize = KVN_FRAME_FIXED_HEADER_BYTES;
inline constexpr uint8_t kFrameMaxCodec = 2;         // the writer writes 1
inline constexpr uint8_t kFrameMaxBlockSizeCode = 6; // block size 1 << (16 + code)

// Flags byte (values shared with the kernels). Bits 0x04 and 0x10 are never
// written and are ignored.
inline constexpr uint8_t kFrameContentSize = KVN_FRAME_CONTENT_SIZE;
inline constexpr uint8_t kFrameChecksum = KVN_FRAME_CHECKSUM;
inline constexpr uint8_t kFrameDictId = KVN_FRAME_DICT_ID;
inline constexpr uint8_t kFrameMerkleRoot = KVN_FRAME_MERKLE_ROOT;
inline constexpr uint8_t kFrameChunkTable = KVN_FRAME_CHUNK_TABLE;
inline constexpr uint8_t kFrameWrtSection = KVN_FRAME_WRT_SECTION;

// Bounds of the WRT section length that follows its u32 length field.
inline constexpr uint32_t kWrtSectionMinLength = KVN_WRT_SECTION_MIN;
inline constexpr uint32_t kWrtSectionMaxLength = KVN_WRT_SECTION_MAX;

// Block header word: payload length in bits 0-29, then two flags.
inline constexpr uint32_t kBlockLengthMask = KVN_BLOCK_LEN_MASK;
inline constexpr uint32_t kBlockSkip = KVN_BLOCK_SKIP;
inline constexpr uint32_t kBlockStored = KVN_BLOCK_STORED;

// A chunk covers sc_group_size units of this many bytes, capped at one unit.
inline constexpr uint64_t kMaxChunkSize = KVN_CHUNK_UNIT;

// Element widths of the byte-plane transform, in the order the automatic
// choice tries them.
inline constexpr uint8_t byte_plane_strides[] = {2, 3, 4, 6, 8, 12, 16, 24, 28, 32};

struct FrameHeader {
    uint64_t content_size;        // valid only with has_content_size
    bool has_content_size;
    uint64_t wrt_section_offset;  // from the frame start
    uint32_t wrt_section_length;
    uint64_t header_length;       // includes the WRT section
    uint32_t block_size;
    float sc_group_size;
    uint32_t dict_id;
    bool has_dict_id;
    uint8_t version;
    uint8_t flags;
    uint8_t codec;
    uint8_t level_code;
    bool has_checksum;
    bool has_merkle_root;
    bool has_chunk_table;
    uint8_t byte_plane_stride;
    Error error;  // Error::None for a good header; on an error every other field is zero
};

// Reads the header at bytes, never looking past `available`. The WRT
// section bytes themselves may lie beyond `available`; callers that use the
// section check that it fits.
FrameHeader parseFrameHeader(const uint8_t* bytes, uint64_t available);

// One of byte_plane_strides (0, meaning no transform, is not a stride).
bool validByteplaneStride(int32_t stride);

// The byte-plane transform's block size: the frame's chunk size when the
// stride divides it, else 0 (the whole frame is one block).
inline uint64_t bytePlaneBlockSize(uint64_t chunk_size, uint8_t stride) {
    return chunk_size % stride == 0 ? chunk_size : 0;
}

// Finite, above 0, at most 65536, and at least one byte per chunk. Refuses
// NaN, infinities and both zeros.
bool validScGroupSize(float sc_group_size);

// min(trunc(sc_group_size * 262144) in single precision, 262144): at least 1
// for every valid value, and 0 for an invalid one, which callers refuse.
uint64_t frameChunkSize(float sc_group_size);

}  // namespace kvn
