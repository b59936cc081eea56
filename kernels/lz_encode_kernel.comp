// Greedy LZ encode at levels 1 to 4: one warp parses a group of consecutive
// sub-chunks with one hash table of earlier positions and writes each
// sub-chunk's streams (literals, tokens, off16, off32, lengths) into its
// output slot, with the slot's LZ size.
//
// The Vulkan library builds one module (kvnLzEncodeGreedyKernel) and picks the
// variant with specialization constants: 0 the parse mode (only the greedy
// parse is here; the kernel reads neither the constant nor the push word), 1
// the 16-bit hash-table entries. The C++ builds have one entry per variant.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// A scan step's winning lane tells the warp its candidate; an extension step
// finds the first unequal pairs in rotating pairs of words (one warp per block).
KVN_SHARED(u32, lz_pick, 1)
KVN_SHARED(u32, lz_first, 6)

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
KVN_LAUNCH_SWITCH(lz_hash16, 1)
#else
KVN_CONST u32 lz_hash16 = 0u;
#endif
#include "kernels/lz_encode_greedy.h"
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
KVN_CONST u32 lz_hash16 = 1u;
#include "kernels/lz_encode_greedy.h"
#include "kernels/kernel_end.h"
#endif
