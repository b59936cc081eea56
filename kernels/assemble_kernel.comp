// Assembly of a frame body: the encoded size of every sub-chunk (measure),
// the encoded sub-chunks at host-chosen offsets (write), and the chunk
// records with their headers, the later chunks' leading bytes and the end
// mark (frame assemble). Each stream is written raw or Huffman-coded,
// whichever is smaller; the host chooses between a compressed and a raw
// record per chunk from the measured sizes.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

#if defined(KVN_ENTRY_kvnAssembleMeasureKernel)
// One block per sub-chunk; bindings 1-3 (the coded streams) are not read.
#define KVN_KERNEL kvnAssembleMeasureKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, lz_output)              \
    BUFFER(1, KVN_RO, u8, lit_coded)              \
    BUFFER(2, KVN_RO, u8, tok_coded)              \
    BUFFER(3, KVN_RO, u8, off16_coded)            \
    BUFFER(4, KVN_RO, u32, records)               \
    BUFFER(5, KVN_RW, u32, sizes)                 \
    SCALAR(u32, count)
#include "kernels/kernel_begin.h"
#include "kernels/lz_output_walk.h"

KVN_FN void kvnMain() {
    u32 index = kvnBlockIndex();
    if (index >= count || kvnThreadX() != 0u) return;
    sizes[index] = asmWalk(index) ? asmBodySize(index) : 0u;
}
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnAssembleWriteKernel)
// One block per sub-chunk: the 3-byte header and the body at the record's
// assembled offset.
#define KVN_KERNEL kvnAssembleWriteKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, lz_output)              \
    BUFFER(1, KVN_RO, u8, lit_coded)              \
    BUFFER(2, KVN_RO, u8, tok_coded)              \
    BUFFER(3, KVN_RO, u8, off16_coded)            \
    BUFFER(4, KVN_RO, u32, records)               \
    BUFFER(5, KVN_RW, u8, assembled)              \
    SCALAR(u32, count)
#include "kernels/kernel_begin.h"
#include "kernels/lz_output_walk.h"

KVN_CONST u32 kFromLz = 0u;
KVN_CONST u32 kFromLit = 1u;
KVN_CONST u32 kFromTok = 2u;
KVN_CONST u32 kFromOff16 = 3u;

KVN_FN u32 sourceByte(u32 from, u32 at) {
    if (from == kFromLit) return u32(lit_coded[at]);
    if (from == kFromTok) return u32(tok_coded[at]);
    if (from == kFromOff16) return u32(off16_coded[at]);
    return u32(lz_output[at]);
}

// Copies len bytes (every stride-th from `at`) of a source buffer to `to`;
// the threads take a byte each in strides of 32.
KVN_FN u32 copyBytes(u32 to, u32 from, u32 at, u32 stride, u32 len) {
    u32 i = kvnThreadX();
    while (i < len) {
        assembled[to + i] = u8(sourceByte(from, at + i * stride));
        i += 32u;
    }
    return to + len;
}

KVN_FN void putByte(u32 to, u32 v) {
    if (kvnThreadX() == 0u) assembled[to] = u8(v & 0xFFu);
}

KVN_FN u32 putBe24(u32 to, u32 v) {
    putByte(to, v >> 16u);
    putByte(to + 1u, v >> 8u);
    putByte(to + 2u, v);
    return to + 3u;
}

KVN_FN u32 putLe16(u32 to, u32 v) {
    putByte(to, v);
    putByte(to + 1u, v >> 8u);
    return to + 2u;
}

// A coded stream's 5-byte header: 0x40 << 32 | (n - 1) << 18 | coded size.
KVN_FN u32 putCodedHeader(u32 to, u32 n, u32 coded) {
    u32 m = n - 1u;
    putByte(to, KVN_STREAM_HUFF_HDR0 | (m >> 14u));
    putByte(to + 1u, m >> 6u);
    putByte(to + 2u, ((m & 63u) << 2u) | ((coded >> 16u) & 3u));
    putByte(to + 3u, coded >> 8u);
    putByte(to + 4u, coded);
    return to + 5u;
}

// A literal or token stream: coded (header and coded bytes) or raw.
KVN_FN u32 putStream(u32 to, u32 n, u32 raw_at, u32 from, u32 coded_at, u32 coded) {
    if (asmStreamCoded(n, coded)) return copyBytes(putCodedHeader(to, n, coded), from, coded_at, 1u, coded);
    return copyBytes(putBe24(to, n), kFromLz, aw_base + raw_at, 1u, n);
}

// One byte half of a split off16 stream: coded or raw (count and bytes).
KVN_FN u32 putHalf(u32 to, u32 raw_at, u32 coded_at, u32 coded) {
    if (asmHalfCoded(aw_n16, coded)) return copyBytes(putCodedHeader(to, aw_n16, coded), kFromOff16, coded_at, 1u, coded);
    return copyBytes(putBe24(to, aw_n16), kFromLz, aw_base + raw_at, 2u, aw_n16);
}

KVN_FN void kvnMain() {
    u32 index = kvnBlockIndex();
    if (index >= count) return;
    u32 rec = index * KVN_ASSEMBLE_RECORD_WORDS;
    u32 at = records[rec + KVN_ASSEMBLE_W_OUT_OFF];
    if (!asmWalk(index)) {
        putBe24(at, KVN_SUBCHUNK_HDR_WRITTEN);  // an empty body
        return;
    }
    u32 to = copyBytes(at + 3u, kFromLz, aw_slot, 1u, aw_prefix);
    to = putStream(to, aw_lit_count, 3u, kFromLit, records[rec + KVN_ASSEMBLE_W_LIT_OFF],
                   records[rec + KVN_ASSEMBLE_W_LIT_SIZE]);
    to = putStream(to, aw_tok_count, aw_tok_at, kFromTok, records[rec + KVN_ASSEMBLE_W_TOK_OFF],
                   records[rec + KVN_ASSEMBLE_W_TOK_SIZE]);
    if (aw_raw_len > KVN_HALF_SIZE) to = copyBytes(to, kFromLz, aw_base + aw_fht_at, 1u, 2u);
    if (asmOff16Split(index)) {
        to = putLe16(to, KVN_OFF16_SPLIT);
        to = putHalf(to, aw_off16_at + 1u, records[rec + KVN_ASSEMBLE_W_OFF16_HI_OFF],
                     records[rec + KVN_ASSEMBLE_W_OFF16_HI_SIZE]);
        to = putHalf(to, aw_off16_at, records[rec + KVN_ASSEMBLE_W_OFF16_LO_OFF],
                     records[rec + KVN_ASSEMBLE_W_OFF16_LO_SIZE]);
    } else {
        to = copyBytes(putLe16(to, aw_n16), kFromLz, aw_base + aw_off16_at, 1u, 2u * aw_n16);
    }
    to = copyBytes(to, kFromLz, aw_base + aw_off32_at, 1u, aw_size - aw_off32_at);
    putBe24(at, KVN_SUBCHUNK_HDR_WRITTEN | (to - at - 3u));
}
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnFrameAssembleKernel)
// Blocks 0 .. chunks-1 write one chunk record each; block `chunks` writes the
// head bytes (frame header and block header), the later chunks' leading 8
// bytes (zero past the source) and the end mark.
#define KVN_KERNEL kvnFrameAssembleKernel
#define KVN_BLOCK_X 128
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, src)                    \
    BUFFER(1, KVN_RO, u8, assembled)              \
    BUFFER(2, KVN_RO, u32, body_offsets)          \
    BUFFER(3, KVN_RO, u32, payload_lengths)       \
    BUFFER(4, KVN_RO, u32, record_offsets)        \
    BUFFER(5, KVN_RO, u8, head)                   \
    BUFFER(6, KVN_RW, u8, frame)                  \
    SCALAR(u32, head_len)                         \
    SCALAR(u32, chunk_hdr0)                       \
    SCALAR(u32, chunk_hdr1)                       \
    SCALAR(u32, chunk_count)                      \
    SCALAR(u32, chunk_size)                       \
    SCALAR(u32, src_len)                          \
    SCALAR(u32, prefix_table_at)                  \
    SCALAR(u32, end_mark_at)
#include "kernels/kernel_begin.h"

KVN_CONST u32 kRawChunk = 0xFFFFFFFFu;

KVN_FN void writeChunk(u32 c) {
    u32 t = kvnThreadX();
    u32 body = body_offsets[c];
    u32 len = payload_lengths[c];
    u32 at = record_offsets[c];
    bool raw = body == kRawChunk;
    if (t == 0u) {
        frame[at] = u8(raw ? (chunk_hdr0 | KVN_CHUNK_HDR0_STORED) & 0xFFu : chunk_hdr0 & 0xFFu);
        frame[at + 1u] = u8(chunk_hdr1 & 0xFFu);
        if (!raw) {
            u32 v = len - 1u;
            frame[at + 2u] = u8(v & 0xFFu);
            frame[at + 3u] = u8((v >> 8u) & 0xFFu);
            frame[at + 4u] = u8((v >> 16u) & 0xFFu);
            frame[at + 5u] = u8(v >> 24u);
        }
    }
    u32 to = at + (raw ? KVN_CHUNK_HDR_BYTES : KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES);
    u32 from = raw ? c * chunk_size : body;
    u32 i = t;
    while (i < len) {
        frame[to + i] = u8(raw ? u32(src[from + i]) : u32(assembled[from + i]));
        i += KVN_BLOCK_X;
    }
}

KVN_FN void writeHeadAndTail() {
    u32 t = kvnThreadX();
    u32 i = t;
    while (i < head_len) {
        frame[i] = u8(u32(head[i]));
        i += KVN_BLOCK_X;
    }
    u32 tail = chunk_count >= 2u ? KVN_CHUNK_PREFIX_BYTES * (chunk_count - 1u) : 0u;
    i = t;
    while (i < tail) {
        u32 pos = (i / KVN_CHUNK_PREFIX_BYTES + 1u) * chunk_size + i % KVN_CHUNK_PREFIX_BYTES;
        frame[prefix_table_at + i] = u8(pos < src_len ? u32(src[pos]) : 0u);
        i += KVN_BLOCK_X;
    }
    if (t < 4u) frame[end_mark_at + t] = u8(0u);
}

KVN_FN void kvnMain() {
    u32 c = kvnBlockIndex();
    if (c < chunk_count) writeChunk(c);
    else if (c == chunk_count) writeHeadAndTail();
}
#include "kernels/kernel_end.h"
#endif
