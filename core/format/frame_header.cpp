#include "core/format/frame_header.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "core/format/byte_order.h"

namespace kvn {
namespace {

constexpr float kChunkUnit = static_cast<float>(KVN_CHUNK_UNIT);
constexpr float kMaxScGroupSize = 65536.0f;

FrameHeader refused(Error error) {
    FrameHeader header{};
    header.error = error;
    return header;
}

}  // namespace

bool validByteplaneStride(int32_t stride) {
    return std::find(std::begin(byte_plane_strides), std::end(byte_plane_strides), stride) !=
           std::end(byte_plane_strides);
}

bool validScGroupSize(float sc_group_size) {
    // "> 0" refuses -0 as well as 0; the product is taken in single
    // precision, as every writer and reader computes the chunk size.
    return std::isfinite(sc_group_size) && sc_group_size > 0.0f && sc_group_size <= kMaxScGroupSize &&
           sc_group_size * kChunkUnit >= 1.0f;
}

uint64_t frameChunkSize(float sc_group_size) {
    if (!validScGroupSize(sc_group_size)) return 0;
    return std::min(static_cast<uint64_t>(sc_group_size * kChunkUnit), kMaxChunkSize);
}

FrameHeader parseFrameHeader(const uint8_t* bytes, uint64_t available) {
    if (available < kFrameFixedHeaderSize) return refused(Error::Truncated);
    if (loadLe32(bytes) != kFrameMagic) return refused(Error::BadMagic);

    FrameHeader h{};
    h.version = bytes[4];
    h.flags = bytes[5];
    h.codec = bytes[6];
    h.level_code = bytes[7];
    const uint8_t block_size_code = bytes[8];
    h.sc_group_size = loadLeF32(bytes + 9);
    h.byte_plane_stride = bytes[13];

    if (h.version != kFrameVersion) return refused(Error::UnsupportedVersion);
    if (h.codec > kFrameMaxCodec) return refused(Error::BadCodec);
    if (block_size_code > kFrameMaxBlockSizeCode) return refused(Error::BadBlockSize);
    // An unknown stride means a frame from a newer writer, hence the version error.
    if (h.byte_plane_stride != 0 && !validByteplaneStride(h.byte_plane_stride))
        return refused(Error::UnsupportedVersion);
    if (!validScGroupSize(h.sc_group_size)) return refused(Error::BadScGroupSize);

    h.block_size = uint32_t{1} << (16 + block_size_code);
    h.has_content_size = h.flags & kFrameContentSize;
    h.has_dict_id = h.flags & kFrameDictId;
    h.has_checksum = h.flags & kFrameChecksum;
    h.has_merkle_root = h.flags & kFrameMerkleRoot;
    h.has_chunk_table = h.flags & kFrameChunkTable;

    uint64_t pos = kFrameFixedHeaderSize;
    if (h.has_content_size) {
        if (available - pos < 8) return refused(Error::Truncated);
        const int64_t content_size = static_cast<int64_t>(loadLe64(bytes + pos));
        if (content_size < 0) return refused(Error::BadContentSize);
        h.content_size = static_cast<uint64_t>(content_size);
        pos += 8;
    }
    if (h.has_dict_id) {
        if (available - pos < 4) return refused(Error::Truncated);
        h.dict_id = loadLe32(bytes + pos);
        pos += 4;
    }
    if (h.flags & kFrameWrtSection) {
        if (available - pos < 4) return refused(Error::Truncated);
        const uint32_t length = loadLe32(bytes + pos);
        if (length < kWrtSectionMinLength || length > kWrtSectionMaxLength) return refused(Error::Truncated);
        pos += 4;
        h.wrt_section_offset = pos;
        h.wrt_section_length = length;
        pos += length;
    }
    h.header_length = pos;
    h.error = Error::None;
    return h;
}

}  // namespace kvn
