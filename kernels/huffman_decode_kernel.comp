// Huffman decode of the entropy-coded literal, token and off16 streams: one
// warp per stream builds the stream's 1024-entry lookup table from its code
// lengths, then one warp per stream decodes its 32 interleaved lanes, one lane
// each, into the decoded-stream scratch.
//
// The Vulkan forms always start at descriptor 0 and write at each stream's
// destination offset; the CUDA forms add a first descriptor index and a
// destination base so that a window of the list can be decoded on its own.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// ============================================================================
#ifdef KVN_ENTRY_kvnHuffBuildLutKernel

KVN_SHARED(u32, code_lengths, 256)
// Symbols of lengths 1 to 11 in canonical order (length, then symbol value).
KVN_SHARED(u32, canonical_symbols, 256)
// Per code length 1 to 12: symbols of that length, first canonical code, and
// position of the first such symbol in canonical_symbols.
KVN_SHARED(u32, length_count, 13)
KVN_SHARED(u32, length_first_code, 13)
KVN_SHARED(u32, length_start, 13)

#define KVN_KERNEL kvnHuffBuildLutKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#if defined(KVN_TARGET_SPIRV)
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u32, luts)                  \
    BUFFER(3, KVN_RO, u32, desc_count)            \
    SCALAR(u32, first_desc)
#else
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u32, luts)                  \
    BUFFER(3, KVN_RO, u32, desc_count)            \
    SCALAR(u32, first_desc)
#endif
#include "kernels/kernel_begin.h"
#include "kernels/huffman_stream_bytes.h"

// The Vulkan form decodes the list in windows of descriptors whose tables
// fill the table array from its start (so the array stays a few MiB whatever
// the list's length); the CUDA form keeps every table at its own offset.
#if defined(KVN_TARGET_SPIRV)
KVN_FN u32 lutBase() { return first_desc * KVN_HUFF_LUT_ENTRIES; }
#else
KVN_FN u32 lutBase() { return 0u; }
#endif

KVN_FN u32 descWord(u32 index, u32 word) { return descs[index * KVN_HUFF_DEC_DESC_WORDS + word]; }
KVN_FN u32 lutOffset(u32 index) { return descWord(index, KVN_HUFF_DEC_W_LUT_OFF) - lutBase(); }
#include "kernels/huffman_lut_build.h"

KVN_FN void kvnMain() {
    u32 index = kvnBlockIndex() + first_desc;
    if (index < desc_count[0]) buildLut(index);
}

#include "kernels/kernel_end.h"
#endif

// ============================================================================
#ifdef KVN_ENTRY_kvnHuffDecode4StreamKernel

KVN_SHARED(u32, stream_table, 1024)

#define KVN_KERNEL kvnHuffDecode4StreamKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#if defined(KVN_TARGET_SPIRV)
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u32, luts)                  \
    BUFFER(3, KVN_RO, u32, desc_count)            \
    BUFFER(4, KVN_RO, u32, list_counts)           \
    ADDRESS(KVN_RW, u8, literal_area)             \
    ADDRESS(KVN_RW, u8, token_area)               \
    ADDRESS(KVN_RW, u8, off16_area)               \
    SCALAR(u32, first_desc)
#else
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u32, luts)                  \
    BUFFER(3, KVN_RO, u32, desc_count)            \
    BUFFER(4, KVN_RO, u32, list_counts)           \
    ADDRESS(KVN_RW, u8, literal_area)             \
    ADDRESS(KVN_RW, u8, token_area)               \
    ADDRESS(KVN_RW, u8, off16_area)               \
    SCALAR(u32, dst_base)                         \
    SCALAR(u32, first_desc)
#endif
#include "kernels/kernel_begin.h"
#include "kernels/huffman_stream_bytes.h"

// The Vulkan form has no destination base (0), reads the tables of a window
// from the table array's start (as kvnHuffBuildLutKernel writes them) and
// keeps each list count in a 256-byte cell of its own; the CUDA form's counts
// are consecutive words and its tables lie at their own offsets.
#if defined(KVN_TARGET_SPIRV)
KVN_CONST u32 dst_base = 0u;
KVN_CONST u32 kTokenListCountWord = KVN_SCAN_LIST_TOKENS * (KVN_DESC_COUNTER_CELL_BYTES / 4u);
KVN_FN u32 lutBase() { return first_desc * KVN_HUFF_LUT_ENTRIES; }
#else
KVN_CONST u32 kTokenListCountWord = KVN_SCAN_LIST_TOKENS;
KVN_FN u32 lutBase() { return 0u; }
#endif

KVN_FN u32 descWord(u32 index, u32 word) { return descs[index * KVN_HUFF_DEC_DESC_WORDS + word]; }
KVN_FN u32 lutOffset(u32 index) { return descWord(index, KVN_HUFF_DEC_W_LUT_OFF) - lutBase(); }
#include "kernels/huffman_stream_decode.h"

KVN_FN void kvnMain() {
    u32 index = kvnBlockIndex() + first_desc;
    if (index < desc_count[0]) decodeStream(index);
}

#include "kernels/kernel_end.h"
#endif
