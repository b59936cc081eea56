#include "core/format/frame_walk.h"

#include "core/format/byte_order.h"
#include "core/format/frame_header.h"
#include "core/format/size_math.h"

namespace kvn {

BlockHeader readBlockHeader(const uint8_t* bytes) {
    const uint32_t word = loadLe32(bytes);
    return BlockHeader{
        .payload_length = word & kBlockLengthMask,
        .raw_size = loadLe32(bytes + 4),
        .skip = (word & kBlockSkip) != 0,
        .stored = (word & kBlockStored) != 0,
    };
}

uint64_t chunkTableLength(uint64_t raw_total, uint64_t chunk_size) {
    return saturatingMul(kChunkTableEntrySize, ceilDiv(raw_total, chunk_size));
}

FrameLength frameTotalLength(const uint8_t* bytes, uint64_t available) {
    const FrameHeader header = parseFrameHeader(bytes, available);
    if (header.error != Error::None) return {0, Error::BadFrame};

    // pos can start past `available` when a WRT section runs beyond the bytes
    // given; `remaining` then is 0 and the frame ends at its header.
    uint64_t pos = header.header_length;
    uint64_t raw_total = 0;
    for (;;) {
        const uint64_t remaining = pos < available ? available - pos : 0;
        if (remaining < kEndMarkSize) break;  // body ends without an end mark
        if (loadLe32(bytes + pos) == 0) {
            pos += kEndMarkSize;
            break;
        }
        if (remaining < kBlockHeaderSize) return {0, Error::InvalidBlockHeader};
        const BlockHeader block = readBlockHeader(bytes + pos);
        if (endsFrame(block)) {
            pos += kBlockHeaderSize;
            break;
        }
        if (block.payload_length > remaining - kBlockHeaderSize) return {0, Error::BlockDataTruncated};
        if (!block.skip) raw_total = saturatingAdd(raw_total, block.raw_size);
        pos += kBlockHeaderSize + block.payload_length;
    }

    if (header.has_chunk_table) {
        pos = saturatingAdd(pos, chunkTableLength(raw_total, frameChunkSize(header.sc_group_size)));
    }
    if (header.has_checksum) pos = saturatingAdd(pos, kTrailerSize);
    if (header.has_merkle_root) pos = saturatingAdd(pos, kTrailerSize);
    return {pos, Error::None};
}

}  // namespace kvn
