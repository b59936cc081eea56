// Descriptor kernels of a decode batch: number the sub-chunks of the chunk
// descriptors, squeeze the empty slots out of the scan lists, and merge the
// four Huffman lists into one with a decode-table slot per stream.
// Blocks of 256 threads walk their lists in tiles of 256 entries, so each
// thread's work stays a few hundred loop iterations for the largest batches.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

KVN_SHARED(u32, kvn_scan_slots, 256)

// Threads per block of every entry here.
KVN_CONST u32 kTile = 256u;

// The counter buffer of the compaction: one count per 256-byte cell on Vulkan
// (each bindable on its own at an aligned offset), consecutive words on CUDA.
#if defined(KVN_TARGET_SPIRV)
KVN_CONST u32 kCounterStride = KVN_DESC_COUNTER_CELL_BYTES / 4u;
#else
KVN_CONST u32 kCounterStride = 1u;
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnPrefixSumChunksKernel)
#define KVN_KERNEL kvnPrefixSumChunksKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, descs)                 \
    BUFFER(1, KVN_RW, u32, starts)                \
    BUFFER(2, KVN_RW, u32, total)                 \
    SCALAR(u32, chunk_count)                      \
    SCALAR(u32, subchunk_size)
#include "kernels/kernel_begin.h"
#include "kernels/block_scan.h"

// Sub-chunks of one chunk: 1 for a stored, byte-fill or empty chunk.
KVN_FN u32 subChunksOf(u32 chunk, u32 s) {
    u32 base = chunk * KVN_CHUNK_DESC_WORDS;
    u32 kind = descs[base + KVN_CHUNK_DESC_W_FLAGS] & KVN_CHUNK_KIND_MASK;
    u32 decoded = descs[base + KVN_CHUNK_DESC_W_DECOMP_SIZE];
    if (kind != KVN_CHUNK_KIND_CODED || decoded == 0u) return 1u;
    return decoded / s + (decoded % s != 0u ? 1u : 0u);
}

// One block: an exclusive scan per tile of 256 chunks, carried across tiles.
// A batch has at most 65536 chunks (256 tiles of 9 loop passes each), far
// inside lavapipe's 65,535 loop iterations per invocation; the total is
// written only when every tile was scanned.
KVN_FN void kvnMain() {
    if (kvnBlockIndex() != 0u) return;
    u32 s = subchunk_size != 0u ? subchunk_size : KVN_SUBCHUNK_SIZE_DEFAULT;
    u32 running = 0u;
    u32 tile = 0u;
    for (; tile < chunk_count; tile += kTile) {
        u32 i = tile + kvnThreadIndex();
        u32 count = i < chunk_count ? subChunksOf(i, s) : 0u;
        u32 tile_total = 0u;
        u32 before = blockExclusiveScan(count, tile_total);
        if (i < chunk_count) starts[i] = running + before;
        running += tile_total;
    }
    if (kvnThreadIndex() == 0u && tile >= chunk_count) total[0] = running;
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnCompactAllDescsKernel)
#define KVN_KERNEL kvnCompactAllDescsKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, scan_literals)         \
    BUFFER(1, KVN_RO, u32, scan_tokens)           \
    BUFFER(2, KVN_RO, u32, scan_off16_high)       \
    BUFFER(3, KVN_RO, u32, scan_off16_low)        \
    BUFFER(4, KVN_RO, u32, scan_raw_high)         \
    BUFFER(5, KVN_RO, u32, scan_raw_low)          \
    BUFFER(6, KVN_RO, u32, subchunk_total)        \
    BUFFER(7, KVN_RW, u32, huff_literals)         \
    BUFFER(8, KVN_RW, u32, huff_tokens)           \
    BUFFER(9, KVN_RW, u32, huff_off16_high)       \
    BUFFER(10, KVN_RW, u32, huff_off16_low)       \
    BUFFER(11, KVN_RW, u32, raw_off16)            \
    BUFFER(12, KVN_RW, u32, counters)
#include "kernels/kernel_begin.h"
#include "kernels/block_scan.h"

// Word w of entry i of scan list `list` (0-3).
KVN_FN u32 scanWord(u32 list, u32 i, u32 w) {
    u32 at = i * KVN_SCAN_HUFF_DESC_WORDS + w;
    if (list == KVN_SCAN_LIST_LITERALS) return scan_literals[at];
    if (list == KVN_SCAN_LIST_TOKENS) return scan_tokens[at];
    if (list == KVN_SCAN_LIST_OFF16_HIGH) return scan_off16_high[at];
    return scan_off16_low[at];
}

KVN_FN void putHuff(u32 list, u32 k, u32 w, u32 v) {
    u32 at = k * KVN_HUFF_DEC_DESC_WORDS + w;
    if (list == KVN_SCAN_LIST_LITERALS) huff_literals[at] = v;
    else if (list == KVN_SCAN_LIST_TOKENS) huff_tokens[at] = v;
    else if (list == KVN_SCAN_LIST_OFF16_HIGH) huff_off16_high[at] = v;
    else huff_off16_low[at] = v;
}

KVN_FN u32 rawWord(bool low_half, u32 i, u32 w) {
    u32 at = i * KVN_SCAN_RAW_DESC_WORDS + w;
    return low_half ? scan_raw_low[at] : scan_raw_high[at];
}

KVN_FN void putRaw(u32 k, bool low_half, u32 i) {
    u32 at = k * KVN_RAW_OFF16_DESC_WORDS;
    raw_off16[at + KVN_RAW_OFF16_W_SRC_OFF] = rawWord(low_half, i, KVN_SCAN_RAW_W_SRC_OFF);
    raw_off16[at + KVN_RAW_OFF16_W_LEN] = rawWord(low_half, i, KVN_SCAN_RAW_W_LEN);
    raw_off16[at + KVN_RAW_OFF16_W_DST_OFF] = rawWord(low_half, i, KVN_SCAN_RAW_W_DST_OFF);
}

// Block b < 4 compacts Huffman list b, block 4 the stored off16 halves (the
// first half of a sub-chunk before its second). Entries keep sub-chunk order.
// Huffman batches hold at most 32767 sub-chunks (128 tiles): inside
// lavapipe's loop budget; a count is written only after its last tile.
KVN_FN void kvnMain() {
    u32 b = kvnBlockIndex();
    if (b > KVN_DESC_COUNTER_RAW) return;
    u32 slots = subchunk_total[0];
    u32 t = kvnThreadIndex();
    u32 k = 0u;
    u32 tile = 0u;
    for (; tile < slots; tile += kTile) {
        u32 i = tile + t;
        bool in_range = i < slots;
        u32 kept = 0u;
        bool high = false;
        bool low = false;
        if (in_range && b < KVN_DESC_COUNTER_RAW) {
            kept = scanWord(b, i, KVN_SCAN_HUFF_W_PRESENT) != 0u ? 1u : 0u;
        } else if (in_range) {
            high = rawWord(false, i, KVN_SCAN_RAW_W_PRESENT) != 0u;
            low = rawWord(true, i, KVN_SCAN_RAW_W_PRESENT) != 0u;
            kept = (high ? 1u : 0u) + (low ? 1u : 0u);
        }
        u32 tile_kept = 0u;
        u32 at = k + blockExclusiveScan(kept, tile_kept);
        if (b < KVN_DESC_COUNTER_RAW && kept != 0u) {
            putHuff(b, at, KVN_HUFF_DEC_W_SRC_OFF, scanWord(b, i, KVN_SCAN_HUFF_W_SRC_OFF));
            putHuff(b, at, KVN_HUFF_DEC_W_COMP_SIZE, scanWord(b, i, KVN_SCAN_HUFF_W_COMP_SIZE));
            putHuff(b, at, KVN_HUFF_DEC_W_DST_OFF, scanWord(b, i, KVN_SCAN_HUFF_W_DST_OFF));
            putHuff(b, at, KVN_HUFF_DEC_W_DECOMP_SIZE, scanWord(b, i, KVN_SCAN_HUFF_W_DECOMP_SIZE));
            putHuff(b, at, KVN_HUFF_DEC_W_LUT_OFF, at * KVN_HUFF_LUT_ENTRIES);
        }
        if (high) putRaw(at, false, i);
        if (low) putRaw(at + (high ? 1u : 0u), true, i);
        k += tile_kept;
    }
    if (t == 0u && tile >= slots) counters[b * kCounterStride] = k;
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
// The merge: lists 0-3 back to back, each entry's table slot its merged index.
// The one-block form copies every list; the four-block form copies list b in
// block b. Both give the same list.
#if defined(KVN_ENTRY_kvnMergeHuffDescsKernel) || defined(KVN_ENTRY_kvnMergeHuffDescsParKernel)
#define KVN_MERGE_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, list_literals)               \
    BUFFER(1, KVN_RO, u32, list_tokens)                 \
    BUFFER(2, KVN_RO, u32, list_off16_high)             \
    BUFFER(3, KVN_RO, u32, list_off16_low)              \
    BUFFER(4, KVN_RO, u32, count_literals)              \
    BUFFER(5, KVN_RO, u32, count_tokens)                \
    BUFFER(6, KVN_RO, u32, count_off16_high)            \
    BUFFER(7, KVN_RO, u32, count_off16_low)             \
    BUFFER(8, KVN_RW, u32, merged)                      \
    BUFFER(9, KVN_RW, u32, merged_count)
#endif

#if defined(KVN_ENTRY_kvnMergeHuffDescsKernel)
#define KVN_KERNEL kvnMergeHuffDescsKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS KVN_MERGE_PARAMS
#include "kernels/kernel_begin.h"
#include "kernels/merge_lists.h"

KVN_FN void kvnMain() {
    if (kvnBlockIndex() != 0u) return;
    u32 base = 0u;
    for (u32 list = 0u; list < 4u; ++list) {
        copyList(list, base);
        base += listCount(list);
    }
    if (kvnThreadIndex() == 0u) merged_count[0] = base;
}
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnMergeHuffDescsParKernel)
#define KVN_KERNEL kvnMergeHuffDescsParKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS KVN_MERGE_PARAMS
#include "kernels/kernel_begin.h"
#include "kernels/merge_lists.h"

KVN_FN void kvnMain() {
    u32 b = kvnBlockIndex();
    if (b >= 4u) return;
    u32 base = 0u;
    for (u32 list = 0u; list < b; ++list) base += listCount(list);
    copyList(b, base);
    if (b == 0u && kvnThreadIndex() == 0u) {
        merged_count[0] = listCount(0u) + listCount(1u) + listCount(2u) + listCount(3u);
    }
}
#include "kernels/kernel_end.h"
#endif
