#include "core/encode/frame_header_writer.h"

#include <bit>
#include <cstring>

#include "core/encode/frame_geometry.h"
#include "core/encode/frame_limits.h"
#include "core/encode/level_table.h"
#include "core/format/frame_header.h"

namespace kvn {
namespace {

constexpr uint32_t kMinBlockSize = 65536;
constexpr uint32_t kMaxBlockSize = 4194304;

}  // namespace

WrittenBytes writeFrameHeader(uint8_t* dst, uint64_t cap, const FrameHeaderFields& f) {
    if (cap < kMaxPlainHeaderSize) return {0, Error::DestinationTooSmall};
    if (!std::has_single_bit(f.block_size) || f.block_size < kMinBlockSize || f.block_size > kMaxBlockSize)
        return {0, Error::DestinationTooSmall};
    if (f.write_content_size && f.content_size > static_cast<uint64_t>(INT64_MAX))
        return {0, Error::DestinationTooSmall};
    if (f.sc_group_size > kMaxScGroupSize) return {0, Error::DestinationTooSmall};
    const bool section = !f.wrt_section.empty();
    if (section && cap < kMaxPlainHeaderSize + 4 + f.wrt_section.size()) return {0, Error::DestinationTooSmall};

    uint8_t flags = 0;
    if (f.write_content_size) flags |= kFrameContentSize;
    if (f.checksum) flags |= kFrameChecksum;
    if (f.use_dict) flags |= kFrameDictId;
    if (f.merkle) flags |= kFrameMerkleRoot;
    if (f.chunk_table) flags |= kFrameChunkTable;
    if (section) flags |= kFrameWrtSection;

    storeLe32(dst, kFrameMagic);
    dst[4] = kFrameVersion;
    dst[kFrameFlagsOffset] = flags;
    dst[6] = 1;  // codec
    dst[7] = levelParams(f.level).frame_code;
    dst[8] = static_cast<uint8_t>(std::countr_zero(f.block_size) - 16);
    std::memcpy(dst + 9, &f.sc_group_size, sizeof(float));
    dst[kFrameStrideOffset] = 0;
    uint64_t at = kFrameFixedHeaderSize;
    if (f.write_content_size) {
        storeLe64(dst + at, f.content_size);
        at += 8;
    }
    if (f.use_dict) {
        storeLe32(dst + at, f.dict_id);
        at += 4;
    }
    if (section) {
        storeLe32(dst + at, static_cast<uint32_t>(f.wrt_section.size()));
        std::memcpy(dst + at + 4, f.wrt_section.data(), f.wrt_section.size());
        at += 4 + f.wrt_section.size();
    }
    return {at, Error::None};
}

WrittenBytes writeEmptyBody(uint8_t* dst, uint64_t cap, uint64_t header_len) {
    if (header_len + 4 > cap) return {0, Error::DestinationTooSmall};
    storeLe32(dst + header_len, 0);
    return {header_len + 4, Error::None};
}

WrittenBytes writeStoredBody(uint8_t* dst, uint64_t cap, uint64_t header_len, const uint8_t* src, uint64_t len) {
    if (!blockLengthFits(len)) return {0, Error::ContentSizeTooLarge};
    if (header_len + len + 12 > cap) return {0, Error::DestinationTooSmall};
    uint8_t* p = dst + header_len;
    storeLe32(p, static_cast<uint32_t>(len) | kBlockStored);
    storeLe32(p + 4, static_cast<uint32_t>(len));
    if (len) std::memcpy(p + 8, src, len);
    storeLe32(p + 8 + len, 0);
    return {header_len + len + 12, Error::None};
}

}  // namespace kvn
