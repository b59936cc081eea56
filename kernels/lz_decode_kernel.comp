// LZ decode of a batch of chunks, one warp per work item (blocks of 32 x 2).
//   kvnLzDecodeKernel      any sub-chunk: Huffman-coded streams come from the
//                          decoded-stream scratch, stored ones from the payload
//   kvnLzDecodeRawKernel   stored streams only (no scratch)
//   kvnLzDecodeRawPipelinedKernel   the raw kernel's work done by a block of
//                          four warps in lock-step phases (threads 0-31 parse
//                          a window of tokens, all 128 copy it); the CUDA form
//                          can also hash each decoded chunk into its Merkle leaf
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
// scratch_stride is a 64-bit value (the token area's offset from the literal
// area; the off16 area lies at twice it), passed where an address goes.
// scratch_offsets null: every slot holds KVN_SUBCHUNK_SIZE symbols.
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u8, out_bytes)              \
    SCALAR(u32, chunks_per_item)                  \
    ADDRESS(KVN_RO, u32, chunk_count)             \
    SCALAR(u32, subchunk_size)                    \
    ADDRESS(KVN_RO, u8, scratch)                  \
    ADDRESS(KVN_RO, u8, scratch_stride)           \
    ADDRESS(KVN_RO, u32, first_subchunk)          \
    ADDRESS(KVN_RO, u32, scratch_offsets)         \
    ADDRESS(KVN_RO, u8, dictionary)               \
    SCALAR(u32, dictionary_len)                   \
    SCALAR(u32, batch_first_subchunk)             \
    ADDRESS(KVN_RW, u32, lz_status)
#endif
#include "kernels/kernel_begin.h"

#include "kernels/subchunk_streams.h"

#if defined(KVN_TARGET_SPIRV)
KVN_FN u32 chunkCount() { return chunk_count[0]; }
KVN_FN u32 outputLength() { return output_len; }
KVN_FN u32 payloadLength() { return payload_len; }
KVN_FN u32 scratchSlot(u32 chunk) { return first_subchunk[chunk]; }
// Slot g's symbols start at scratch_offsets[g] in each area; the next slot's start ends them.
KVN_FN u32 scratchAt(u32 slot) { return scratch_offsets[slot]; }
KVN_FN u32 scratchBytes(u32 slot) { return scratch_offsets[slot + 1u] - scratch_offsets[slot]; }
KVN_FN bool scratchPresent(u32 where) {
    if (where == kStreamInLiteralScratch) return (literal_scratch_lo | literal_scratch_hi) != 0u;
    if (where == kStreamInTokenScratch) return (token_scratch_lo | token_scratch_hi) != 0u;
    return (off16_scratch_lo | off16_scratch_hi) != 0u;
}
KVN_FN u32 streamByte(u32 where, u32 at) {
    if (where == kStreamInPayload) return u32(payload[at]);
    if (where == kStreamInLiteralScratch) return u32(literal_scratch.data[at]);
    if (where == kStreamInTokenScratch) return u32(token_scratch.data[at]);
    return u32(off16_scratch.data[at]);
}
KVN_FN bool hasDictionary() { return (dictionary_lo | dictionary_hi) != 0u; }
#else
KVN_FN u32 chunkCount() { return chunk_count.data[0]; }
KVN_FN u32 outputLength() { return 0xFFFFFFFFu; }
KVN_FN u32 payloadLength() { return 0xFFFFFFFFu; }
KVN_FN u32 scratchSlot(u32 chunk) {
    u32 own = first_subchunk.data != nullptr ? first_subchunk.data[chunk] : chunk;
    return own - batch_first_subchunk;
}
KVN_FN bool scratchPresent(u32 where) { return scratch.data != nullptr; }
KVN_FN u32 scratchAt(u32 slot) {
    return scratch_offsets.data != nullptr ? scratch_offsets.data[slot] : slot * KVN_SUBCHUNK_SIZE;
}
KVN_FN u32 scratchBytes(u32 slot) {
    return scratch_offsets.data != nullptr ? scratch_offsets.data[slot + 1u] - scratch_offsets.data[slot]
                                           : KVN_SUBCHUNK_SIZE;
}
KVN_FN u32 streamByte(u32 where, u32 at) {
    if (where == kStreamInPayload) return u32(payload[at]);
    u64 area = u64(where - kStreamInLiteralScratch) * u64(scratch_stride.data);
    return u32(scratch.data[area + u64(at)]);
}
KVN_FN bool hasDictionary() { return dictionary.data != nullptr; }
#endif
KVN_FN u32 dictionaryLength() { return dictionary_len; }
KVN_FN u32 dictionaryByte(u32 i) { return u32(dictionary.data[i]); }
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
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 4
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_MIN_BLOCKS 12
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
    ADDRESS(KVN_RW, u32, leaf_hashes)             \
    ADDRESS(KVN_RW, u32, lz_status)
#endif
#include "kernels/kernel_begin.h"

#include "kernels/subchunk_streams.h"

#include "kernels/lz_stored_streams.h"

#if defined(KVN_TARGET_SPIRV)
KVN_FN void chunkDone(u32 chunk) {}
#else
// The chunk's Merkle leaf: the wrapping sum of its whole output words, each
// times 0x9E3779B1 plus its byte offset (the offset in the frame's content
// when the output buffer starts there).
KVN_FN void chunkDone(u32 chunk) {
    if (leaf_hashes.data == nullptr) return;
    u32 d = chunk * KVN_CHUNK_DESC_WORDS;
    u32 dst = descs[d + KVN_CHUNK_DESC_W_DST_OFF];
    u32 from = (dst + 3u) & ~3u;
    u32 to = (dst + descs[d + KVN_CHUNK_DESC_W_DECOMP_SIZE]) & ~3u;
    u32 sum = 0u;
    for (u32 at = from + 4u * kvnThreadIndex(); at < to; at += 4u * kvn_block_threads) {
        u32 word = u32(out_bytes[at]) | (u32(out_bytes[at + 1u]) << 8u) | (u32(out_bytes[at + 2u]) << 16u) |
                   (u32(out_bytes[at + 3u]) << 24u);
        sum += word * (0x9E3779B1u + at);
    }
    s_leaf_sums[kvnThreadIndex()] = sum;
    kvnBarrier();
    if (kvnThreadIndex() == 0u) {
        u32 total = 0u;
        for (u32 t = 0u; t < kvn_block_threads; ++t) total += s_leaf_sums[t];
        leaf_hashes.data[chunk] = total;
    }
    kvnBarrier();
}
#endif

#include "kernels/lz_group_block.h"
#include "kernels/lz_sequence.h"
#include "kernels/lz_chunk_walk.h"

KVN_FN void kvnMain() { decodeWorkItem(kvnBlockIndex()); }

#include "kernels/kernel_end.h"

#endif  // kvnLzDecodeRawPipelinedKernel
