// The pipelined raw kernel's body: the raw kernel's work done by a block of
// four warps in lock-step phases; the C++ form can also hash each decoded
// chunk into its Merkle leaf. The entry defines KVN_KERNEL first.
// No include guard: the C++ builds include it once per entry.
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

