// LZ encode: one warp parses a group of consecutive sub-chunks with a table
// of earlier positions and writes each sub-chunk's streams (literals, tokens,
// off16, off32, lengths) into its output slot, with the slot's LZ size. Mode
// 0 is the greedy parse of levels 1 to 4 (lz_encode_greedy.h), mode 1 the
// chain parse of level 5 (lz_encode_chain.h), mode 2 level 5's sort-parse
// (lz_encode_sort_parse.h) from the candidates of the sort pre-pass
// (lz_sort_kernel.comp).
//
// The Vulkan library builds one module (kvnLzEncodeGreedyKernel) and picks the
// variant with specialization constants: 0 the parse mode (the kernel does
// not read the push word), 1 the 16-bit hash-table entries of the greedy
// parse. The C++ builds have one entry per variant.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"
#include "kernels/lz_sort_layout.h"
#include "kernels/common_length.h"

// A scan step's winning lane tells the warp its candidate; an extension step
// finds the first unequal pairs in rotating pairs of words (one warp per block).
KVN_SHARED(u32, lz_pick, 1)
KVN_SHARED(u32, lz_first, 6)
// The chain parse's per-lane results: chain links, 8-byte hash tags, search
// results and lazy-evaluation targets.
KVN_SHARED(u32, lzc_link, 32)
KVN_SHARED(u32, lzc_tag, 32)
KVN_SHARED(u32, lzc_lens, 32)
KVN_SHARED(u32, lzc_kinds, 32)
KVN_SHARED(u32, lzc_srcs, 32)
KVN_SHARED(u32, lzc_next, 32)
// The sort-parse's window of search results, one per lane.
KVN_SHARED(u32, sp_len, 32)
KVN_SHARED(u32, sp_dist, 32)

// Bindings 0-3 (the pipeline's fifth binding, diagnostics, is not read), then
// the 72-byte push block of the encode table.
#define KVN_LZ_ENCODE_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, src)                              \
    VIEW(0, KVN_RO, u32, src_words)                         \
    BUFFER(1, KVN_RW, u8, lz_out)                           \
    BUFFER(2, KVN_RO, u32, descs)                           \
    BUFFER(3, KVN_RW, u32, lz_sizes)                        \
    SCALAR(u32, count)                                      \
    SCALAR(u32, hash_bits)                                  \
    SCALAR(u32, parse_mode)                                 \
    SCALAR(u32, insert_in_matches)                          \
    ADDRESS(KVN_RW, u32, table)                             \
    ADDRESS(KVN_RO, u8, dict)                               \
    ADDRESS(KVN_RO, u32, dict_table)                        \
    SCALAR(u32, dict_len)                                   \
    SCALAR(u32, reserved0)                                  \
    SCALAR(u32, subs_per_group)                             \
    SCALAR(u32, reserved1)                                  \
    ADDRESS(KVN_RO, u8, src_address)                        \
    SCALAR(u32, reserved2)                                  \
    SCALAR(u32, min_dist)

#if defined(KVN_ENTRY_kvnLzEncodeGreedyKernel)
#define KVN_KERNEL kvnLzEncodeGreedyKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_MIN_BLOCKS 16
#define KVN_PARAMS KVN_LZ_ENCODE_PARAMS
#include "kernels/kernel_begin.h"
#if defined(KVN_TARGET_SPIRV)
KVN_LAUNCH_SWITCH(lz_mode, 0)
KVN_LAUNCH_SWITCH(lz_hash16, 1)
#else
KVN_CONST u32 lz_mode = 0u;
KVN_CONST u32 lz_hash16 = 0u;
#endif
#include "kernels/lz_encode_common.h"
#include "kernels/lz_encode_greedy.h"
#include "kernels/lz_encode_chain.h"
#include "kernels/lz_encode_sort_parse.h"
#include "kernels/lz_encode_group.h"
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnLzEncodeGreedy16Kernel)
#define KVN_KERNEL kvnLzEncodeGreedy16Kernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_MIN_BLOCKS 16
#define KVN_PARAMS KVN_LZ_ENCODE_PARAMS
#include "kernels/kernel_begin.h"
KVN_CONST u32 lz_mode = 0u;
KVN_CONST u32 lz_hash16 = 1u;
#include "kernels/lz_encode_common.h"
#include "kernels/lz_encode_greedy.h"
#include "kernels/lz_encode_chain.h"
#include "kernels/lz_encode_sort_parse.h"
#include "kernels/lz_encode_group.h"
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnLzEncodeChainKernel)
#define KVN_KERNEL kvnLzEncodeChainKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_MIN_BLOCKS 1
#define KVN_PARAMS KVN_LZ_ENCODE_PARAMS
#include "kernels/kernel_begin.h"
KVN_CONST u32 lz_mode = 1u;
KVN_CONST u32 lz_hash16 = 0u;
#include "kernels/lz_encode_common.h"
#include "kernels/lz_encode_greedy.h"
#include "kernels/lz_encode_chain.h"
#include "kernels/lz_encode_sort_parse.h"
#include "kernels/lz_encode_group.h"
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnLzEncodeSortParseKernel)
#define KVN_KERNEL kvnLzEncodeSortParseKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_MIN_BLOCKS 1
#define KVN_PARAMS KVN_LZ_ENCODE_PARAMS
#include "kernels/kernel_begin.h"
KVN_CONST u32 lz_mode = KVN_LZ_MODE_SORT_PARSE;
KVN_CONST u32 lz_hash16 = 0u;
#include "kernels/lz_encode_common.h"
#include "kernels/lz_encode_greedy.h"
#include "kernels/lz_encode_chain.h"
#include "kernels/lz_encode_sort_parse.h"
#include "kernels/lz_encode_group.h"
#include "kernels/kernel_end.h"
#endif
