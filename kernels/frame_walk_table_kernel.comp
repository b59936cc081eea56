// The frame walk that reads the frame's chunk-size table: 1024 threads turn
// the serial walk over up to 65,536 chunk records into two block scans. Thread
// 0 checks the frame and its block; then every thread sums a slice of table
// entries, a scan gives each slice its record offset, each thread checks its
// records against their entries and writes their descriptors, and a second
// scan numbers the sub-chunks. One frame, one compressed block; a table that
// disagrees with the records is status 14.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

#define KVN_BLOCK_SCAN_THREADS 1024u
KVN_SHARED(u32, kvn_scan_slots, 1024)
// What thread 0 found: see the kMeta* indices.
KVN_SHARED(u32, s_meta, 8)

KVN_CONST u32 kMetaReady = 0u;          // 1 when the frame passed thread 0's checks
KVN_CONST u32 kMetaPayloadStart = 1u;   // input offset of the block payload
KVN_CONST u32 kMetaPayloadLen = 2u;
KVN_CONST u32 kMetaRaw = 3u;
KVN_CONST u32 kMetaChunkSize = 4u;
KVN_CONST u32 kMetaRecordsLen = 5u;     // payload length minus the chunk-prefix area
KVN_CONST u32 kMetaFault = 6u;          // a thread raised a status
KVN_CONST u32 kWalkTableMismatch = KVN_WALK_TABLE_MISMATCH;

#include "kernels/frame_walk_bindings.h"

#define KVN_KERNEL kvnWalkFrameTableKernel
#define KVN_BLOCK_X 1024
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    KVN_WALK_BINDINGS(BUFFER)                     \
    SCALAR(u32, src_len)                          \
    SCALAR(u32, table_off)                        \
    SCALAR(u32, chunk_count)                      \
    SCALAR(u32, desc_capacity)                    \
    SCALAR(u32, decoded_capacity)
#include "kernels/kernel_begin.h"
#include "kernels/frame_reading.h"
#include "kernels/block_scan.h"

// Thread 0: the frame header, its one block and the first chunk header.
KVN_FN u32 checkFrame() {
    if (src_len < KVN_FRAME_FIXED_HEADER_BYTES) return kWalkTruncated;
    if (readU32(0u) != KVN_FRAME_MAGIC) return kWalkBadMagic;
    u32 header = 0u;
    u32 flags = 0u;
    u32 chunk_size = 0u;
    u32 status = frameHeaderStatus(0u, header, flags, chunk_size);
    if (status != kWalkOk) return status;
    if (src_len - header < KVN_BLOCK_HDR_BYTES) return kWalkRawSizeMissing;
    u32 word = readU32(header);
    u32 raw = readU32(header + 4u);
    u32 len = word & KVN_BLOCK_LEN_MASK;
    if ((word & KVN_BLOCK_SKIP) != 0u) return kWalkUnsupported;
    if ((word & KVN_BLOCK_STORED) != 0u) return kWalkSecondBlock;  // the table walk takes coded blocks only
    if (word == 0u) raw = 0u;  // the end mark: a frame without blocks
    if (chunk_count > desc_capacity || chunk_count > KVN_MAX_CHUNKS_PER_BLOCK) return kWalkTooManyChunks;
    if (table_off > src_len || KVN_CHUNK_TABLE_ENTRY_BYTES * chunk_count > src_len - table_off) return kWalkTruncated;
    if (raw > decoded_capacity) return kWalkTooLarge;
    if (len > src_len - header - KVN_BLOCK_HDR_BYTES) return kWalkTruncated;
    // The table must describe exactly the block's chunks.
    if (chunk_count != chunkCount(raw, chunk_size)) return kWalkTableMismatch;
    u32 start = header + KVN_BLOCK_HDR_BYTES;
    u32 area = 0u;
    if (chunk_count != 0u) {
        if (len < KVN_CHUNK_HDR_BYTES) return kWalkTruncated;
        u32 h0 = byteAt(start);
        status = chunkHeaderStatus(h0, byteAt(start + 1u));
        if (status != kWalkOk) return status;
        if ((h0 & KVN_CHUNK_HDR0_PREFIX_AREA) != 0u && chunk_count > 1u) area = KVN_CHUNK_PREFIX_BYTES * (chunk_count - 1u);
        if (area >= len) return kWalkTruncated;
    }
    s_meta[kMetaPayloadStart] = start;
    s_meta[kMetaPayloadLen] = len;
    s_meta[kMetaRaw] = raw;
    s_meta[kMetaChunkSize] = chunk_size;
    s_meta[kMetaRecordsLen] = len - area;
    return kWalkOk;
}

KVN_FN u32 tableEntry(u32 i) {
    u32 at = table_off + KVN_CHUNK_TABLE_ENTRY_BYTES * i;
    return byteAt(at) | (byteAt(at + 1u) << 8u) | (byteAt(at + 2u) << 16u);
}

KVN_FN void raise(u32 status) {
    kvnAtomicExchange(meta_status[0], status);
    s_meta[kMetaFault] = 1u;
}

KVN_FN void putDesc(u32 i, u32 payload_off, u32 comp_size, u32 decoded, u32 flags, u32 fill) {
    u32 at = i * KVN_CHUNK_DESC_WORDS;
    descs[at + KVN_CHUNK_DESC_W_SRC_OFF] = payload_off;
    descs[at + KVN_CHUNK_DESC_W_COMP_SIZE] = comp_size;
    descs[at + KVN_CHUNK_DESC_W_DECOMP_SIZE] = decoded;
    descs[at + KVN_CHUNK_DESC_W_DST_OFF] = i * s_meta[kMetaChunkSize];
    descs[at + KVN_CHUNK_DESC_W_FLAGS] = flags;
    descs[at + KVN_CHUNK_DESC_W_FILL] = fill;
}

// Chunk i's record of `entry` bytes at payload offset off: checks it against
// its entry and writes its descriptor; returns its sub-chunk count, 0 on a
// fault (raised).
KVN_FN u32 walkRecord(u32 i, u32 off, u32 entry) {
    u32 start = s_meta[kMetaPayloadStart];
    u32 records = s_meta[kMetaRecordsLen];
    u32 chunk_size = s_meta[kMetaChunkSize];
    if (entry < KVN_CHUNK_HDR_BYTES || off > records || entry > records - off) {
        raise(kWalkTableMismatch);
        return 0u;
    }
    u32 first = i * chunk_size;
    u32 decoded = kvnMin(chunk_size, s_meta[kMetaRaw] - first);
    u32 at = start + off;
    u32 h0 = byteAt(at);
    u32 status = chunkHeaderStatus(h0, byteAt(at + 1u));
    if (status != kWalkOk) {
        raise(status);
        return 0u;
    }
    if ((h0 & KVN_CHUNK_HDR0_STORED) != 0u) {
        if (entry != decoded + KVN_CHUNK_HDR_BYTES) {
            raise(kWalkTableMismatch);
            return 0u;
        }
        putDesc(i, off + KVN_CHUNK_HDR_BYTES, decoded, decoded, KVN_CHUNK_KIND_STORED, 0u);
        return 1u;
    }
    if (entry < KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES) {
        raise(kWalkTableMismatch);
        return 0u;
    }
    u32 size_word = readU32(at + KVN_CHUNK_HDR_BYTES);
    u32 mode = (size_word >> KVN_SIZE_HDR_MODE_SHIFT) & KVN_SIZE_HDR_MODE_MASK;
    if (mode > KVN_CHUNK_MODE_FILL) {
        raise(kWalkBadChunkMode);
        return 0u;
    }
    u32 body = off + KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES;
    if (mode == KVN_CHUNK_MODE_FILL) {
        if (entry != KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES + 1u) {
            raise(kWalkTableMismatch);
            return 0u;
        }
        putDesc(i, 0u, 0u, decoded, KVN_CHUNK_KIND_FILL, byteAt(start + body));
        return 1u;
    }
    u32 coded = (size_word & KVN_SIZE_HDR_LEN_MASK) + 1u;
    if (entry != coded + KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES) {
        raise(kWalkTableMismatch);
        return 0u;
    }
    if (coded == decoded) {
        putDesc(i, body, coded, decoded, KVN_CHUNK_KIND_STORED, 0u);
        return 1u;
    }
    putDesc(i, body, coded, decoded, KVN_CHUNK_KIND_CODED, 0u);
    return (decoded + KVN_SUBCHUNK_SIZE - 1u) / KVN_SUBCHUNK_SIZE;
}

KVN_FN void kvnMain() {
    if (kvnBlockIndex() != 0u) return;
    u32 t = kvnThreadIndex();
    if (t == 0u) {
        meta_count[0] = 0u;
        meta_decoded[0] = 0u;
        meta_subchunk_size[0] = KVN_SUBCHUNK_SIZE;
        meta_payload_base[0] = 0u;
        meta_payload_len[0] = 0u;
        meta_status[0] = 0u;
        subchunk_total[0] = 0u;
        s_meta[kMetaFault] = 0u;
        u32 status = checkFrame();
        s_meta[kMetaReady] = status == kWalkOk ? 1u : 0u;
        if (status != kWalkOk) meta_status[0] = status;
    }
    kvnBarrier();
    if (s_meta[kMetaReady] == 0u) return;  // the whole block leaves together

    // Thread t walks chunks [first, last): a contiguous slice of the table.
    u32 slice = (chunk_count + kvn_block_threads - 1u) / kvn_block_threads;
    u32 first = kvnMin(t * slice, chunk_count);
    u32 last = kvnMin(first + slice, chunk_count);
    u32 bytes = 0u;
    for (u32 i = first; i < last; ++i) bytes += tableEntry(i);
    u32 all_bytes = 0u;
    u32 off = blockExclusiveScan(bytes, all_bytes);
    if (t == 0u && all_bytes != s_meta[kMetaRecordsLen]) raise(kWalkTableMismatch);

    u32 subchunks = 0u;
    u32 i = first;
    for (; i < last; ++i) {
        u32 entry = tableEntry(i);
        u32 count = walkRecord(i, off, entry);
        if (count == 0u) break;
        subchunks += count;
        off += entry;
    }
    u32 all_subchunks = 0u;
    u32 sub = blockExclusiveScan(subchunks, all_subchunks);
    // Number the sub-chunks of the records this thread walked.
    for (u32 k = first; k < i; ++k) {
        subchunk_starts[k] = sub;
        u32 at = k * KVN_CHUNK_DESC_WORDS;
        bool coded = descs[at + KVN_CHUNK_DESC_W_FLAGS] == KVN_CHUNK_KIND_CODED;
        u32 decoded = descs[at + KVN_CHUNK_DESC_W_DECOMP_SIZE];
        sub += coded ? (decoded + KVN_SUBCHUNK_SIZE - 1u) / KVN_SUBCHUNK_SIZE : 1u;
    }
    kvnBarrier();
    if (t == 0u && s_meta[kMetaFault] == 0u) {
        meta_count[0] = chunk_count;
        meta_decoded[0] = s_meta[kMetaRaw];
        meta_payload_base[0] = s_meta[kMetaPayloadStart];
        meta_payload_len[0] = s_meta[kMetaPayloadLen];
        subchunk_total[0] = all_subchunks;
    }
}

#include "kernels/kernel_end.h"
