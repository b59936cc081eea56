#include "core/encode/body_layout.h"

#include <new>

#include "core/encode/frame_limits.h"

namespace kvn {
namespace {

constexpr uint64_t kMaxOffset = 0xFFFFFFFF;

}  // namespace

Error placeSubChunks(std::span<const uint32_t> measured, std::vector<uint32_t>& offsets, uint64_t* total) {
    uint64_t at = 0;
    try {
        offsets.assign(measured.size(), 0);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    for (size_t i = 0; i < measured.size(); ++i) {
        offsets[i] = static_cast<uint32_t>(at);
        at += uint64_t{measured[i]} + kSubChunkHeaderBytes;
        if (at > kMaxOffset) return Error::ContentSizeTooLarge;
    }
    *total = at;
    return Error::None;
}

Error layoutBody(std::span<const CompressChunkDesc> descs, std::span<const uint32_t> lz_sizes,
                 std::span<const uint32_t> measured, std::span<const uint32_t> sub_offsets, uint64_t chunk,
                 uint64_t len, uint64_t header_len, BodyLayout* layout) {
    const uint64_t n = (len + chunk - 1) / chunk;
    try {
        layout->body_offsets.assign(n, 0);
        layout->payload_lengths.assign(n, 0);
        layout->record_offsets.assign(n, 0);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    size_t s = 0;
    uint64_t record_at = header_len + kBlockHeaderBytes;
    uint64_t records = 0;
    for (uint64_t c = 0; c < n; ++c) {
        const uint64_t chunk_begin = c * chunk;
        const uint64_t chunk_len = len - chunk_begin < chunk ? len - chunk_begin : chunk;
        const size_t first = s;
        uint64_t assembled = 0;
        bool wide = false;
        for (; s < descs.size() && descs[s].src_offset < chunk_begin + chunk_len; ++s) {
            assembled += uint64_t{measured[s]} + kSubChunkHeaderBytes;
            // A sub-chunk whose parse failed (LZ size 0, e.g. cut short on
            // a device that bounds loop iterations) or could not be measured
            // stores its chunk raw: lossless, never a wrong stream.
            wide |= lz_sizes[s] == 0 || measured[s] == 0 || lz_sizes[s] >= descs[s].length;
        }
        const bool compressed = assembled < chunk_len && !wide;
        layout->body_offsets[c] = compressed ? sub_offsets[first] : kRawChunk;
        layout->payload_lengths[c] = static_cast<uint32_t>(compressed ? assembled : chunk_len);
        layout->record_offsets[c] = static_cast<uint32_t>(record_at);
        const uint64_t record = chunkRecordLength(*layout, c);
        records += record;
        record_at += record;
        if (record_at > kMaxOffset) return Error::ContentSizeTooLarge;
    }
    const uint64_t prefixes = kChunkPrefixBytes * (n - 1);
    layout->block_payload = records + prefixes;
    if (!blockLengthFits(layout->block_payload)) return Error::ContentSizeTooLarge;
    layout->records_end = record_at;
    layout->end_mark = record_at + prefixes;
    layout->frame_len = layout->end_mark + 4;
    if (layout->frame_len > kMaxOffset) return Error::ContentSizeTooLarge;
    return Error::None;
}

}  // namespace kvn
