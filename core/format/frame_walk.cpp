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

namespace {

// The walk of a frame whose header was read good.
FrameLength walkFrame(const uint8_t* bytes, uint64_t available, const FrameHeader& header) {
    // pos can start past `available` when a WRT section runs beyond the bytes
    // given; `remaining` then is 0 and the frame ends at its header.
    uint64_t pos = header.header_length;
    uint64_t raw_total = 0;
    bool unterminated = false;
    for (;;) {
        const uint64_t remaining = pos < available ? available - pos : 0;
        if (remaining < kEndMarkSize) {  // body ends without an end mark
            unterminated = true;
            break;
        }
        if (loadLe32(bytes + pos) == 0) {
            pos += kEndMarkSize;
            break;
        }
        if (remaining < kBlockHeaderSize) return {0, 0, false, Error::InvalidBlockHeader};
        const BlockHeader block = readBlockHeader(bytes + pos);
        if (endsFrame(block)) {
            pos += kBlockHeaderSize;
            break;
        }
        if (block.payload_length > remaining - kBlockHeaderSize) return {0, 0, false, Error::BlockDataTruncated};
        if (!block.skip) raw_total = saturatingAdd(raw_total, block.raw_size);
        pos += kBlockHeaderSize + block.payload_length;
    }

    if (header.has_chunk_table) {
        pos = saturatingAdd(pos, chunkTableLength(raw_total, frameChunkSize(header.sc_group_size)));
    }
    if (header.has_checksum) pos = saturatingAdd(pos, kTrailerSize);
    if (header.has_merkle_root) pos = saturatingAdd(pos, kTrailerSize);
    const bool cut_off = unterminated && header.has_content_size && raw_total < header.content_size;
    return {pos, raw_total, cut_off, Error::None};
}

}  // namespace

FrameLength frameTotalLength(const uint8_t* bytes, uint64_t available) {
    const FrameHeader header = parseFrameHeader(bytes, available);
    if (header.error != Error::None) return {0, 0, false, Error::BadFrame};
    return walkFrame(bytes, available, header);
}

FrameStep nextFrame(const uint8_t* input, uint64_t input_len, uint64_t pos) {
    const uint64_t available = input_len - pos;
    if (available < kFrameFixedHeaderSize || loadLe32(input + pos) != kFrameMagic) return {true, {}, 0, 0, Error::None};
    const FrameHeader header = parseFrameHeader(input + pos, available);
    if (header.error != Error::None) return {false, {}, 0, 0, Error::BadFrame};
    const FrameLength frame = walkFrame(input + pos, available, header);
    if (frame.error != Error::None) return {false, {}, 0, 0, frame.error};
    if (frame.length > available || frame.cut_off) return {false, {}, 0, 0, Error::BadFrame};
    return {false, header, frame.length, frame.raw_total, Error::None};
}

}  // namespace kvn
