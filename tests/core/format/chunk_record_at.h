// Where a chunk record of a frame with one coded block starts, found by
// stepping over the records before it: for tests that damage one record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/format/byte_order.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"

namespace kvn::test {

// Offset in `bytes` of chunk record `index` of the frame at `frame`.
inline size_t chunkRecordAt(const std::vector<uint8_t>& bytes, size_t frame, size_t index) {
    const FrameHeader h = parseFrameHeader(bytes.data() + frame, bytes.size() - frame);
    const size_t chunk = frameChunkSize(h.sc_group_size);
    size_t at = frame + h.header_length + kBlockHeaderSize;
    for (size_t i = 0; i < index; ++i) {
        const uint32_t word = loadLe32(bytes.data() + at + KVN_CHUNK_HDR_BYTES);
        const bool fill = (word >> KVN_SIZE_HDR_MODE_SHIFT & KVN_SIZE_HDR_MODE_MASK) == KVN_CHUNK_MODE_FILL;
        if (bytes[at] & KVN_CHUNK_HDR0_STORED) {
            at += KVN_CHUNK_HDR_BYTES + chunk;
        } else {
            at += KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES + (fill ? 1 : (word & KVN_SIZE_HDR_LEN_MASK) + 1);
        }
    }
    return at;
}

// One byte of one chunk record of a frame set to `value`.
struct RecordDamage {
    const char* name;
    size_t record;
    size_t byte;  // of the record
    uint8_t value;
};

}  // namespace kvn::test
