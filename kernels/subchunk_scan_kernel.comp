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

KVN_FN u32 scanFirstSubchunk(u32 chunk) { return starts[chunk]; }
KVN_FN u32 scanSlotAt(u32 g) { return scratch_offsets[g]; }
KVN_FN u32 scanSlotBytes(u32 g) { return scratch_offsets[g + 1u] - scratch_offsets[g]; }
#include "kernels/subchunk_scan.h"

KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex();
    if (i < chunk_count[0]) scanChunk(i);
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
