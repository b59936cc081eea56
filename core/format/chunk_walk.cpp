#include "core/format/chunk_walk.h"

#include <algorithm>
#include <cstring>

#include "core/format/byte_order.h"
#include "core/format/size_math.h"

namespace kvn {
namespace {

// Byte 1's low bits must be 1 or 2 on chunk 0; later chunks are held only to
// the upper bound (0 has always been accepted there).
bool chunkHeaderValid(uint8_t b0, uint8_t b1, bool first) {
    uint32_t version = b1 & KVN_CHUNK_HDR1_VERSION_MASK;
    if ((b0 & KVN_CHUNK_HDR0_MAGIC_MASK) != KVN_CHUNK_HDR0_MAGIC) return false;
    if (version > KVN_CHUNK_HDR1_VERSION_MAX) return false;
    return !(first && version == 0);
}

uint32_t chunksPerItem(float sc_group_size, uint32_t n, bool prefix_bit) {
    if (!prefix_bit) return n;
    uint32_t group = 1;
    if (sc_group_size >= 1.0f) group = std::max<uint32_t>(1, uint32_t(sc_group_size));
    return std::min(n, group);
}

}  // namespace

Error walkChunks(std::span<const uint8_t> payload, uint64_t raw_size, uint32_t chunk_size,
                 float sc_group_size, uint64_t dst_base, std::span<KvnChunkDesc> descs,
                 ChunkWalk* walk) {
    *walk = ChunkWalk{};
    if (raw_size == 0) return Error::None;
    const uint8_t* p = payload.data();
    const uint64_t len = payload.size();
    if (len < KVN_CHUNK_HDR_BYTES) return Error::Truncated;
    if (!chunkHeaderValid(p[0], p[1], true)) return Error::InvalidInternalHeader;

    const uint64_t n = ceilDiv(raw_size, chunk_size);
    const bool prefix_bit = (p[0] & KVN_CHUNK_HDR0_PREFIX_AREA) != 0;
    uint64_t records_end = len;
    if (prefix_bit && n > 1) {
        uint64_t area = KVN_CHUNK_PREFIX_BYTES * (n - 1);
        if (area >= len) return Error::Truncated;
        records_end = len - area;
        walk->has_prefix_area = true;
        walk->prefix_area_off = records_end;
    }
    if (n > KVN_MAX_CHUNKS_PER_BLOCK) return Error::BadFrame;
    // dst_off is a u32 word in the descriptor.
    if (dst_base + (n - 1) * chunk_size > UINT32_MAX) return Error::BadFrame;
    if (descs.size() < n) return Error::BufferTooSmall;

    uint64_t pos = 0;
    uint64_t left = raw_size;
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t m = uint32_t(std::min<uint64_t>(chunk_size, left));
        if (records_end - pos < KVN_CHUNK_HDR_BYTES) return Error::Truncated;
        const uint8_t b0 = p[pos], b1 = p[pos + 1];
        if (!chunkHeaderValid(b0, b1, k == 0)) return Error::InvalidInternalHeader;
        pos += KVN_CHUNK_HDR_BYTES;

        KvnChunkDesc& d = descs[k];
        d = KvnChunkDesc{};
        d.decomp_size = m;
        d.dst_off = uint32_t(dst_base + uint64_t(k) * chunk_size);
        if (b0 & KVN_CHUNK_HDR0_STORED) {
            if (records_end - pos < m) return Error::Truncated;
            d.src_off = uint32_t(pos);
            d.comp_size = m;
            d.flags = KVN_CHUNK_KIND_STORED;
            pos += m;
        } else {
            if (records_end - pos < KVN_SIZE_HDR_BYTES) return Error::BadChunkHeader;
            const uint32_t word = loadLe32(p + pos);
            const uint32_t mode = (word >> KVN_SIZE_HDR_MODE_SHIFT) & KVN_SIZE_HDR_MODE_MASK;
            if (mode == KVN_CHUNK_MODE_FILL) {
                if (records_end - pos < KVN_SIZE_HDR_BYTES + 1) return Error::BadChunkHeader;
                d.flags = KVN_CHUNK_KIND_FILL;
                d.fill_byte = p[pos + KVN_SIZE_HDR_BYTES];
                pos += KVN_SIZE_HDR_BYTES + 1;
            } else if (mode == KVN_CHUNK_MODE_CODED) {
                const uint32_t header = (b1 & KVN_CHUNK_HDR1_LONG_SIZE) ? KVN_SIZE_HDR_LONG_BYTES
                                                                        : KVN_SIZE_HDR_BYTES;
                if (records_end - pos < header) return Error::BadChunkHeader;
                pos += header;
                const uint32_t size = (word & KVN_SIZE_HDR_LEN_MASK) + 1;
                if (records_end - pos < size) return Error::Truncated;
                d.src_off = uint32_t(pos);
                d.comp_size = size;
                d.flags = size == m ? KVN_CHUNK_KIND_STORED : KVN_CHUNK_KIND_CODED;
                pos += size;
            } else {
                return Error::BadChunkHeader;
            }
        }
        left -= m;
    }
    walk->chunk_count = uint32_t(n);
    walk->chunks_per_item = chunksPerItem(sc_group_size, uint32_t(n), prefix_bit);
    return Error::None;
}

bool holdsStreams(const KvnChunkDesc& desc) {
    return (desc.flags & KVN_CHUNK_KIND_MASK) == KVN_CHUNK_KIND_CODED && desc.decomp_size > 0;
}

uint32_t chunkSubChunkCount(const KvnChunkDesc& desc, uint32_t subchunk_size) {
    // The kind alone decides: a coded chunk with the frame-first flag still
    // holds all its sub-chunks.
    if (!holdsStreams(desc)) return 1;
    const uint32_t s = subchunk_size ? subchunk_size : KVN_SUBCHUNK_SIZE_DEFAULT;
    return uint32_t(ceilDiv(desc.decomp_size, s));
}

uint64_t subChunkStarts(std::span<const KvnChunkDesc> descs, uint32_t subchunk_size,
                        uint32_t* starts) {
    uint64_t total = 0;
    for (size_t i = 0; i < descs.size(); ++i) {
        starts[i] = uint32_t(total);
        total += chunkSubChunkCount(descs[i], subchunk_size);
    }
    return total;
}

void applyChunkPrefixes(std::span<const uint8_t> payload, const ChunkWalk& walk,
                        uint64_t raw_size, uint32_t chunk_size, uint8_t* block_out) {
    if (!walk.has_prefix_area) return;
    const uint8_t* area = payload.data() + walk.prefix_area_off;
    for (uint32_t k = 1; k < walk.chunk_count; ++k) {
        const uint64_t start = uint64_t(k) * chunk_size;
        const uint64_t n = std::min<uint64_t>(KVN_CHUNK_PREFIX_BYTES, raw_size - start);
        std::memcpy(block_out + start, area + KVN_CHUNK_PREFIX_BYTES * (k - 1), n);
    }
}

}  // namespace kvn
