// LZ decode of a batch of chunks, one warp per work item (blocks of 32 x 2).
//   kvnLzDecodeKernel      any sub-chunk: Huffman-coded streams come from the
//                          decoded-stream scratch, stored ones from the payload
//   kvnLzDecodeRawKernel   stored streams only (no scratch)
//   kvnLzDecodeRawPipelinedKernel   the raw kernel's work done by a block of
//                          four warps in lock-step phases (threads 0-31 parse
//                          a window of tokens, all 128 copy it); the CUDA form
//                          can also hash each decoded chunk into its Merkle leaf
//   kvnLzDecodeRawPipelinedBigKernel, kvnLzDecodeGeneralPipelinedKernel
//                          (CUDA only) the pipelined raw kernel under the name
//                          for large chunks; kvnLzDecodeKernel's work in the
//                          pipelined kernel's blocks
// Both decode delta and plain literals, both halves and off32 entries; the
// shared code is in lz_sequence.h and lz_chunk_walk.h. Every form ORs the
// KVN_LZ_STATUS_* bits into its status cell (`lz_status`, last parameter of
// the C++ forms, may be null there) when a chunk's output is not complete. The CUDA forms take
// the historical parameter lists (no output or payload length: they check no
// descriptor against the buffers); the Vulkan forms those of the kernel table.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// Copies of overlapping matches at distances of 32 or more in 32-byte steps
// (specialization constant 7; the CUDA module global of the same name).
KVN_LAUNCH_SWITCH(g_kvn_floor_copy, 7)

// One window of tokens per warp (two warps per block; the pipelined kernel's
// block uses the first 32 entries), the block's collective values and flag,
// and the per-thread sums of the fused leaf hash (CUDA form).
KVN_SHARED(u32, s_group_values, 32)
KVN_SHARED(u32, s_group_flag, 1)
KVN_SHARED(u32, s_leaf_sums, 128)
KVN_SHARED(u32, s_tok_pos, 64)
KVN_SHARED(u32, s_lit_len, 64)
KVN_SHARED(u32, s_lit_pre, 64)
KVN_SHARED(u32, s_match_len, 64)
KVN_SHARED(u32, s_match_pre, 64)
KVN_SHARED(u32, s_dist, 64)
KVN_SHARED(u32, s_rep, 64)
KVN_SHARED(u32, s_off16_incl, 64)

#ifdef KVN_ENTRY_kvnLzDecodeKernel

#define KVN_KERNEL kvnLzDecodeKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 2
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_MIN_BLOCKS 24
#if defined(KVN_TARGET_SPIRV)
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u8, out_bytes)              \
    BUFFER(3, KVN_RO, u32, chunk_count)           \
    BUFFER(4, KVN_RO, u32, first_subchunk)        \
    BUFFER(5, KVN_RW, u32, lz_status)             \
    BUFFER(6, KVN_RO, u32, scratch_offsets)       \
    SCALAR(u32, chunks_per_item)                  \
    SCALAR(u32, subchunk_size)                    \
    ADDRESS(KVN_RO, u8, literal_scratch)          \
    ADDRESS(KVN_RO, u8, token_scratch)            \
    ADDRESS(KVN_RO, u8, off16_scratch)            \
    ADDRESS(KVN_RO, u8, dictionary)               \
    SCALAR(u32, dictionary_len)                   \
    SCALAR(u32, output_len)                       \
    SCALAR(u32, payload_len)
#else
#include "kernels/lz_general_params.h"
#endif
#include "kernels/kernel_begin.h"

#include "kernels/subchunk_streams.h"

#include "kernels/lz_scratch_streams.h"
KVN_FN void chunkDone(u32 chunk) {}

#include "kernels/lz_group_warp.h"
#include "kernels/lz_sequence.h"
#include "kernels/lz_chunk_walk.h"

KVN_FN void kvnMain() { decodeWorkItem(kvnBlockIndex() * 2u + kvnWarpIndex()); }

#include "kernels/kernel_end.h"

#endif  // kvnLzDecodeKernel

#ifdef KVN_ENTRY_kvnLzDecodeRawKernel

#define KVN_KERNEL kvnLzDecodeRawKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 2
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_MIN_BLOCKS 24
#if defined(KVN_TARGET_SPIRV)
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u8, out_bytes)              \
    BUFFER(3, KVN_RO, u32, chunk_count)           \
    BUFFER(4, KVN_RW, u32, lz_status)             \
    SCALAR(u32, chunks_per_item)                  \
    SCALAR(u32, subchunk_size)                    \
    ADDRESS(KVN_RO, u8, dictionary)               \
    SCALAR(u32, dictionary_len)                   \
    SCALAR(u32, payload_len)                      \
    SCALAR(u32, output_len)
#else
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u8, out_bytes)              \
    SCALAR(u32, chunks_per_item)                  \
    ADDRESS(KVN_RO, u32, chunk_count)             \
    SCALAR(u32, subchunk_size)                    \
    ADDRESS(KVN_RO, u8, dictionary)               \
    SCALAR(u32, dictionary_len)                   \
    ADDRESS(KVN_RW, u32, lz_status)
#endif
#include "kernels/kernel_begin.h"

#include "kernels/subchunk_streams.h"

#include "kernels/lz_stored_streams.h"
KVN_FN void chunkDone(u32 chunk) {}

#include "kernels/lz_group_warp.h"
#include "kernels/lz_sequence.h"
#include "kernels/lz_chunk_walk.h"

KVN_FN void kvnMain() { decodeWorkItem(kvnBlockIndex() * 2u + kvnWarpIndex()); }

#include "kernels/kernel_end.h"

#endif  // kvnLzDecodeRawKernel

#ifdef KVN_ENTRY_kvnLzDecodeRawPipelinedKernel
#define KVN_KERNEL kvnLzDecodeRawPipelinedKernel
#include "kernels/lz_raw_pipelined.h"
#endif  // kvnLzDecodeRawPipelinedKernel

// CUDA only: the name under which the CUDA host launches chunks above 65536
// bytes. The block decoder reads the token split index and both halves in
// every form, so it is the same body.
#ifdef KVN_ENTRY_kvnLzDecodeRawPipelinedBigKernel
#define KVN_KERNEL kvnLzDecodeRawPipelinedBigKernel
#include "kernels/lz_raw_pipelined.h"
#endif  // kvnLzDecodeRawPipelinedBigKernel

// CUDA only: kvnLzDecodeKernel's work (decoded streams from the scratch)
// done by a block of four warps, as the pipelined raw kernel does the raw
// kernel's.
#ifdef KVN_ENTRY_kvnLzDecodeGeneralPipelinedKernel

#define KVN_KERNEL kvnLzDecodeGeneralPipelinedKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 4
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_MIN_BLOCKS 12
#include "kernels/lz_general_params.h"
#include "kernels/kernel_begin.h"

#include "kernels/subchunk_streams.h"

#include "kernels/lz_scratch_streams.h"
KVN_FN void chunkDone(u32 chunk) {}

#include "kernels/lz_group_block.h"
#include "kernels/lz_sequence.h"
#include "kernels/lz_chunk_walk.h"

KVN_FN void kvnMain() { decodeWorkItem(kvnBlockIndex()); }

#include "kernels/kernel_end.h"

#endif  // kvnLzDecodeRawPipelinedKernel
