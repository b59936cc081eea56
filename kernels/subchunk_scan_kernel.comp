// Sub-chunk stream scan before the Huffman stage: kvnScanParseKernel records,
// per sub-chunk of the batch, where its Huffman-coded streams and the stored
// halves of a split off16 stream lie; kvnGatherRawOff16Kernel copies those
// stored halves into the off16 scratch, beside the Huffman-decoded ones.
// The CUDA forms keep their historical parameter order (scalars among the
// buffers), so each entry has a Vulkan and a CUDA parameter table.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

#ifdef KVN_ENTRY_kvnScanParseKernel

#define KVN_KERNEL kvnScanParseKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#if defined(KVN_TARGET_SPIRV)
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u32, starts)                \
    BUFFER(3, KVN_RO, u32, chunk_count)           \
    BUFFER(4, KVN_RW, u32, huff_literals)         \
    BUFFER(5, KVN_RW, u32, huff_tokens)           \
    BUFFER(6, KVN_RW, u32, huff_off16_high)       \
    BUFFER(7, KVN_RW, u32, huff_off16_low)        \
    BUFFER(8, KVN_RW, u32, raw_off16_high)        \
    BUFFER(9, KVN_RW, u32, raw_off16_low)         \
    BUFFER(10, KVN_RO, u32, scratch_offsets)      \
    SCALAR(u32, payload_end)                      \
    SCALAR(u32, subchunk_size)
#else
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    SCALAR(u32, payload_end)                      \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u32, starts)                \
    BUFFER(3, KVN_RO, u32, chunk_count)           \
    SCALAR(u32, subchunk_size)                    \
    BUFFER(4, KVN_RW, u32, huff_literals)         \
    BUFFER(5, KVN_RW, u32, huff_tokens)           \
    BUFFER(6, KVN_RW, u32, huff_off16_high)       \
    BUFFER(7, KVN_RW, u32, huff_off16_low)        \
    BUFFER(8, KVN_RW, u32, raw_off16_high)        \
    BUFFER(9, KVN_RW, u32, raw_off16_low)         \
    BUFFER(10, KVN_RO, u32, scratch_offsets)
#endif
#include "kernels/kernel_begin.h"

#include "kernels/subchunk_streams.h"

// Clears the six slots of sub-chunk g.
KVN_FN void clearSlots(u32 g) {
    huff_literals[g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT] = 0u;
    huff_tokens[g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT] = 0u;
    huff_off16_high[g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT] = 0u;
    huff_off16_low[g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT] = 0u;
    raw_off16_high[g * KVN_SCAN_RAW_DESC_WORDS + KVN_SCAN_RAW_W_PRESENT] = 0u;
    raw_off16_low[g * KVN_SCAN_RAW_DESC_WORDS + KVN_SCAN_RAW_W_PRESENT] = 0u;
}

// The list a Huffman stream of kind `list` goes to (KVN_SCAN_LIST_*); at
// most `room` of its symbols fit its place in the slot.
KVN_FN void recordHuffman(u32 list, u32 g, StreamLoc s, u32 dst_off, u32 room) {
    u32 w = g * KVN_SCAN_HUFF_DESC_WORDS;
    u32 v0 = s.off;
    u32 v1 = s.len;
    u32 v3 = kvnMin(s.count, room);
    if (list == KVN_SCAN_LIST_LITERALS) {
        huff_literals[w + KVN_SCAN_HUFF_W_SRC_OFF] = v0;
        huff_literals[w + KVN_SCAN_HUFF_W_COMP_SIZE] = v1;
        huff_literals[w + KVN_SCAN_HUFF_W_DST_OFF] = dst_off;
        huff_literals[w + KVN_SCAN_HUFF_W_DECOMP_SIZE] = v3;
        huff_literals[w + KVN_SCAN_HUFF_W_PRESENT] = 1u;
    } else if (list == KVN_SCAN_LIST_TOKENS) {
        huff_tokens[w + KVN_SCAN_HUFF_W_SRC_OFF] = v0;
        huff_tokens[w + KVN_SCAN_HUFF_W_COMP_SIZE] = v1;
        huff_tokens[w + KVN_SCAN_HUFF_W_DST_OFF] = dst_off;
        huff_tokens[w + KVN_SCAN_HUFF_W_DECOMP_SIZE] = v3;
        huff_tokens[w + KVN_SCAN_HUFF_W_PRESENT] = 1u;
    } else if (list == KVN_SCAN_LIST_OFF16_HIGH) {
        huff_off16_high[w + KVN_SCAN_HUFF_W_SRC_OFF] = v0;
        huff_off16_high[w + KVN_SCAN_HUFF_W_COMP_SIZE] = v1;
        huff_off16_high[w + KVN_SCAN_HUFF_W_DST_OFF] = dst_off;
        huff_off16_high[w + KVN_SCAN_HUFF_W_DECOMP_SIZE] = v3;
        huff_off16_high[w + KVN_SCAN_HUFF_W_PRESENT] = 1u;
    } else {
        huff_off16_low[w + KVN_SCAN_HUFF_W_SRC_OFF] = v0;
        huff_off16_low[w + KVN_SCAN_HUFF_W_COMP_SIZE] = v1;
        huff_off16_low[w + KVN_SCAN_HUFF_W_DST_OFF] = dst_off;
        huff_off16_low[w + KVN_SCAN_HUFF_W_DECOMP_SIZE] = v3;
        huff_off16_low[w + KVN_SCAN_HUFF_W_PRESENT] = 1u;
    }
}

// A stored half of a split off16 stream; its length is the entry count the
// LZ decode takes from it (cut at the body end, at 65536 and at the half slot).
KVN_FN void recordStoredHalf(bool low, u32 g, StreamLoc s, u32 dst_off, u32 room) {
    u32 w = g * KVN_SCAN_RAW_DESC_WORDS;
    u32 len = kvnMin(s.count, room);
    if (low) {
        raw_off16_low[w + KVN_SCAN_RAW_W_SRC_OFF] = s.off;
        raw_off16_low[w + KVN_SCAN_RAW_W_LEN] = len;
        raw_off16_low[w + KVN_SCAN_RAW_W_DST_OFF] = dst_off;
        raw_off16_low[w + KVN_SCAN_RAW_W_PRESENT] = 1u;
    } else {
        raw_off16_high[w + KVN_SCAN_RAW_W_SRC_OFF] = s.off;
        raw_off16_high[w + KVN_SCAN_RAW_W_LEN] = len;
        raw_off16_high[w + KVN_SCAN_RAW_W_DST_OFF] = dst_off;
        raw_off16_high[w + KVN_SCAN_RAW_W_PRESENT] = 1u;
    }
}

KVN_FN void recordOff16Half(bool low, u32 g, StreamLoc s) {
    u32 half_room = (scratch_offsets[g + 1u] - scratch_offsets[g]) / 2u;
    u32 dst_off = scratch_offsets[g] + (low ? half_room : 0u);
    if (s.type == KVN_STREAM_HUFFMAN) {
        recordHuffman(low ? KVN_SCAN_LIST_OFF16_LOW : KVN_SCAN_LIST_OFF16_HIGH, g, s, dst_off, half_room);
    } else if (s.type == KVN_STREAM_STORED) {
        recordStoredHalf(low, g, s, dst_off, half_room);
    }
}

KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex();
    if (i >= chunk_count[0]) return;
    u32 d = i * KVN_CHUNK_DESC_WORDS;
    u32 src = descs[d + KVN_CHUNK_DESC_W_SRC_OFF];
    u32 comp = descs[d + KVN_CHUNK_DESC_W_COMP_SIZE];
    u32 left = descs[d + KVN_CHUNK_DESC_W_DECOMP_SIZE];
    u32 dst = descs[d + KVN_CHUNK_DESC_W_DST_OFF];
    u32 flags = descs[d + KVN_CHUNK_DESC_W_FLAGS];
    u32 g = starts[i];
    if (chunkKind(flags) != KVN_CHUNK_KIND_CODED || left == 0u) {
        clearSlots(g);
        return;
    }
    if (src >= payload_end) return;
    u32 s_max = subchunk_size != 0u ? subchunk_size : KVN_SUBCHUNK_SIZE_DEFAULT;
    u32 chunk_end = src + kvnMin(comp, payload_end - src);
    bool frame_first = chunkOpensFrame(flags, dst);
    u32 p = src;
    // A chunk holds at most 262144 / 65536 sub-chunks: far inside lavapipe's
    // loop budget of 65,535 iterations per invocation.
    while (left > 0u && chunk_end - p >= KVN_SUBCHUNK_HDR_BYTES) {
        clearSlots(g);
        u32 hdr = (u32(payload[p]) << 16u) | (u32(payload[p + 1u]) << 8u) | u32(payload[p + 2u]);
        u32 mode = (hdr >> KVN_SUBCHUNK_LITMODE_SHIFT) & KVN_SUBCHUNK_LITMODE_MASK;
        u32 len = hdr & KVN_SUBCHUNK_LEN_MASK;
        u32 body = p + KVN_SUBCHUNK_HDR_BYTES;
        // The decoders stop the chunk at the same faults.
        if ((hdr & KVN_SUBCHUNK_HDR_VALID) == 0u || mode > KVN_LITMODE_PLAIN || len > chunk_end - body) break;
        u32 decoded = kvnMin(left, s_max);
        // A stored sub-chunk's bytes are output, not stream headers.
        if (len < decoded) {
            ParsedStreams ps = parseSubChunkHeaders(body, body + len, decoded, frame_first);
            u32 at = scratch_offsets[g];
            u32 room = scratch_offsets[g + 1u] - at;
            if (ps.lit.type == KVN_STREAM_HUFFMAN) recordHuffman(KVN_SCAN_LIST_LITERALS, g, ps.lit, at, room);
            if (ps.tok.type == KVN_STREAM_HUFFMAN) recordHuffman(KVN_SCAN_LIST_TOKENS, g, ps.tok, at, room);
            if (ps.off16_split != 0u) {
                recordOff16Half(false, g, ps.off16_high);
                recordOff16Half(true, g, ps.off16_low);
            }
        }
        frame_first = false;
        left -= decoded;
        p = body + len;
        g += 1u;
    }
}

#include "kernels/kernel_end.h"

#endif  // kvnScanParseKernel

#ifdef KVN_ENTRY_kvnGatherRawOff16Kernel

#define KVN_KERNEL kvnGatherRawOff16Kernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#if defined(KVN_TARGET_SPIRV)
// The off16 region is bound at its own byte offset: the first slot and the
// destination base are both 0.
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RW, u8, region)                 \
    BUFFER(2, KVN_RO, u32, list)                  \
    BUFFER(3, KVN_RO, u32, list_count)            \
    SCALAR(u32, payload_end)
#else
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    SCALAR(u32, payload_end)                      \
    BUFFER(1, KVN_RW, u8, region)                 \
    BUFFER(2, KVN_RO, u32, list)                  \
    BUFFER(3, KVN_RO, u32, list_count)            \
    SCALAR(u32, first_slot)                       \
    SCALAR(u32, dst_base)
#endif
#include "kernels/kernel_begin.h"

#if defined(KVN_TARGET_SPIRV)
KVN_FN u32 firstSlot() { return 0u; }
KVN_FN u32 dstBase() { return 0u; }
#else
KVN_FN u32 firstSlot() { return first_slot; }
KVN_FN u32 dstBase() { return dst_base; }
#endif

KVN_FN void kvnMain() {
    u32 slot = kvnBlockIndex() + firstSlot();
    if (slot >= list_count[0]) return;
    u32 w = slot * KVN_RAW_OFF16_DESC_WORDS;
    u32 src = list[w + KVN_RAW_OFF16_W_SRC_OFF];
    u32 dst = list[w + KVN_RAW_OFF16_W_DST_OFF];
    if (src >= payload_end || dst < dstBase()) return;
    // One half never holds more than 65536 entries: a longer length would
    // spill into the next half or slot.
    u32 len = kvnMin(kvnMin(list[w + KVN_RAW_OFF16_W_LEN], KVN_OFF16_MAX_ENTRIES), payload_end - src);
    dst -= dstBase();
    // At most 65536 / 256 passes: inside lavapipe's loop budget.
    for (u32 k = kvnThreadIndex(); k < len; k += kvn_block_threads) region[dst + k] = u8(u32(payload[src + k]));
}

#include "kernels/kernel_end.h"

#endif  // kvnGatherRawOff16Kernel
