// Integrity kernels: restore the chunk prefixes of a decoded block, hash each
// chunk of the output into a Merkle leaf, place a batch's leaves in the
// frame's leaf array, fold the leaves into the root with XXH32 to give the
// verdict, and fold the decoded bytes themselves into the content checksum.
// Leaves, root and checksum equal chunkMerkleLeaf / chunkMerkleRoot / xxh32
// on the CPU bit for bit.
//
// 64-bit lengths and offsets travel as two 32-bit words, low word first.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

KVN_SHARED(u32, kvn_seg_sh_, 128)
KVN_SHARED(u32, kvn_verdict_lanes_, 4)
KVN_SHARED(u32, kvn_hash_intact_, 4)

// Each word's multiplier is its absolute byte offset plus this bias.
KVN_CONST u32 kMerkleOffsetBias = 0x9E3779B1u;

// Values the verdict cell takes.
KVN_CONST u32 kVerdictMatch = 1u;
KVN_CONST u32 kVerdictMismatch = 2u;

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnSegHashKernel)
#define KVN_KERNEL kvnSegHashKernel
#define KVN_BLOCK_X 128
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, data_words)            \
    VIEW(0, KVN_RO, u8, data)                     \
    BUFFER(1, KVN_RW, u32, hashes)                \
    SCALAR(u32, chunks)                           \
    SCALAR(u32, chunk_size)                       \
    SCALAR(u32, data_len_lo)                      \
    SCALAR(u32, data_len_hi)
#include "kernels/kernel_begin.h"

// The little-endian word at byte offset at; byte reads when it is unaligned
// (chunk sizes that are not a multiple of 4).
KVN_FN u32 wordAt(u64 at) {
    u32 a = u32(at);
    if ((a & 3u) == 0u) return data_words[a >> 2u];
    return u32(data[a]) | (u32(data[a + 1u]) << 8u) | (u32(data[a + 2u]) << 16u) | (u32(data[a + 3u]) << 24u);
}

// Block b hashes chunk b: thread t takes words t, t + 128, ... so the block
// reads the chunk in coalesced sweeps; a tree sum in shared memory joins them.
KVN_FN void kvnMain() {
    u32 b = kvnBlockIndex();
    if (b >= chunks) return;
    u32 t = kvnThreadIndex();
    u64 data_len = (u64(data_len_hi) << 32u) | u64(data_len_lo);
    u64 base = u64(b) * u64(chunk_size);
    u64 len = base < data_len ? data_len - base : u64(0u);
    if (len > u64(chunk_size)) len = u64(chunk_size);
    u32 words = u32(len >> 2u);
    u32 sum = 0u;
    u32 i = t;
    for (; i < words; i += kvn_block_threads) {
        u64 at = base + u64(4u * i);
        sum += wordAt(at) * (kMerkleOffsetBias + u32(at));
    }
    kvn_seg_sh_[t] = sum;
    kvnBarrier();
    for (u32 stride = kvn_block_threads / 2u; stride > 0u; stride >>= 1u) {
        if (t < stride) kvn_seg_sh_[t] += kvn_seg_sh_[t + stride];
        kvnBarrier();
    }
    if (t == 0u) hashes[b] = kvn_seg_sh_[0];
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnChunkCombineKernel)
#define KVN_KERNEL kvnChunkCombineKernel
#define KVN_BLOCK_X 128
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
// The chunk size and data length words ride along for the launcher's sake;
// the kernel reads the count and the leaf offset.
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, hashes)                \
    BUFFER(1, KVN_RW, u32, leaves)                \
    SCALAR(u32, count)                            \
    SCALAR(u32, chunk_size)                       \
    SCALAR(u32, data_len_lo)                      \
    SCALAR(u32, data_len_hi)                      \
    SCALAR(u32, leaf_offset)
#include "kernels/kernel_begin.h"

KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex();
    if (i < count) leaves[leaf_offset + i] = hashes[i];
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnScPrefixApplyKernel)
#define KVN_KERNEL kvnScPrefixApplyKernel
#define KVN_BLOCK_X 128
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RW, u8, dest)                   \
    BUFFER(1, KVN_RO, u8, payload)                \
    SCALAR(u32, area_off_lo)                      \
    SCALAR(u32, area_off_hi)                      \
    SCALAR(u32, chunks)                           \
    SCALAR(u32, chunk_size)                       \
    SCALAR(u32, out_len_lo)                       \
    SCALAR(u32, out_len_hi)
#include "kernels/kernel_begin.h"

// Thread i restores the first bytes of chunk i + 1 from its 8 bytes in the
// area, never past the output end (a chunk that starts at or beyond it gets
// nothing). Chunks shorter than 8 bytes take only their own bytes: applied in
// chunk order a later chunk's entry overwrites the overlap anyway, so every
// byte has one writer and the result is that order's on any device.
KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex();
    if (i + 1u >= chunks) return;
    u64 out_len = (u64(out_len_hi) << 32u) | u64(out_len_lo);
    u64 area = (u64(area_off_hi) << 32u) | u64(area_off_lo);
    u64 d = u64(i + 1u) * u64(chunk_size);
    if (d >= out_len) return;
    u64 left = out_len - d;
    u32 m = left < u64(KVN_CHUNK_PREFIX_BYTES) ? u32(left) : KVN_CHUNK_PREFIX_BYTES;
    if (m > chunk_size) m = chunk_size;
    u32 src = u32(area + u64(KVN_CHUNK_PREFIX_BYTES) * u64(i));
    u32 dst = u32(d);
    for (u32 k = 0u; k < m; ++k) dest[dst + k] = u8(u32(payload[src + k]));
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnMerkleVerdictKernel)
#define KVN_KERNEL kvnMerkleVerdictKernel
#define KVN_BLOCK_X 4
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, leaves)                \
    BUFFER(1, KVN_RW, u32, verdict)               \
    SCALAR(u32, leaf_count)                       \
    SCALAR(u32, expected_root)                    \
    SCALAR(u32, first_stripe)
#include "kernels/kernel_begin.h"

#include "kernels/xxh32_steps.h"

// XXH32 (seed 0) of the leaves as 4 x leaf_count little-endian bytes. Its
// four stripe lanes are independent, so thread t folds lane t; the chain
// along the leaves is sequential, so a frame's leaves take several passes of
// KVN_VERDICT_PASS_STRIPES stripes, each starting at first_stripe from the
// lanes the previous pass left in the cell. The pass that reaches the last
// stripe joins the lanes, folds the word tail (every leaf is a whole word, so
// the byte tail never occurs) and writes the verdict.
KVN_FN void kvnMain() {
    if (kvnBlockIndex() != 0u) return;
    u32 t = kvnThreadIndex();
    u32 stripes = leaf_count >= 4u ? leaf_count / 4u : 0u;
    u32 left = first_stripe < stripes ? stripes - first_stripe : 0u;
    u32 end = left > KVN_VERDICT_PASS_STRIPES ? first_stripe + KVN_VERDICT_PASS_STRIPES : stripes;
    u32 v = first_stripe == 0u ? laneSeed(t) : verdict[1u + t];
    for (u32 i = first_stripe; i < end; ++i) v = xxhRound(v, leaves[4u * i + t]);
    if (end < stripes) {
        verdict[1u + t] = v;
        return;
    }
    kvn_verdict_lanes_[t] = v;
    kvnBarrier();
    if (t != 0u) return;
    u32 h = xxhJoin(stripes, kvn_verdict_lanes_[0], kvn_verdict_lanes_[1], kvn_verdict_lanes_[2],
                    kvn_verdict_lanes_[3], leaf_count * 4u);
    for (u32 i = stripes * 4u; i < leaf_count; ++i) h = xxhTailWord(h, leaves[i]);
    h = xxhAvalanche(h);
    verdict[0] = h == expected_root ? kVerdictMatch : kVerdictMismatch;
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnContentHashKernel)
#define KVN_KERNEL kvnContentHashKernel
#define KVN_BLOCK_X 4
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
// The pass's first byte, byte 16 x first_stripe of the hashed bytes (whose
// length is total), is byte `skew` at `data`, an address that keeps 4-byte
// alignment.
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RW, u32, cell)                  \
    ADDRESS(KVN_RO, u8, data)                     \
    SCALAR(u32, skew)                             \
    SCALAR(u32, first_stripe)                     \
    SCALAR(u32, stripes)                          \
    SCALAR(u32, total_lo)                         \
    SCALAR(u32, total_hi)                         \
    SCALAR(u32, expected)
#include "kernels/kernel_begin.h"

#include "kernels/xxh32_steps.h"

KVN_FN u32 dataByte(u32 at) { return u32(data.data[skew + at]); }
KVN_FN u32 dataWord(u32 at) {
    return dataByte(at) | (dataByte(at + 1u) << 8u) | (dataByte(at + 2u) << 16u) | (dataByte(at + 3u) << 24u);
}

// XXH32 (seed 0) of the bytes in passes of at most
// KVN_CONTENT_HASH_PASS_STRIPES stripes: thread t folds stripe lane t, which
// the cell carries from pass to pass. Each lane also leaves there the stripe
// its loop reached; a pass that does not find its lane where the last one
// ended (a loop the device cut short, a pass skipped) carries a mark that no
// stripe matches, and the last pass then gives KVN_CONTENT_HASH_CUT instead
// of a verdict. The last pass joins the lanes and folds the 0 to 15 tail
// bytes.
KVN_FN void kvnMain() {
    if (kvnBlockIndex() != 0u) return;
    u32 t = kvnThreadIndex();
    u64 total = (u64(total_hi) << 32u) | u64(total_lo);
    u64 all_stripes = total >> 4u;
    if (first_stripe == 0u && t == 0u) cell[KVN_CONTENT_HASH_W_VERDICT] = 0u;
    bool resumed = first_stripe == 0u || cell[KVN_CONTENT_HASH_W_REACHED + t] == first_stripe;
    u32 v = first_stripe == 0u ? laneSeed(t) : cell[KVN_CONTENT_HASH_W_LANES + t];
    u32 i = 0u;
    for (; i < stripes; ++i) v = xxhRound(v, dataWord(16u * i + 4u * t));
    bool intact = resumed && i == stripes;
    cell[KVN_CONTENT_HASH_W_LANES + t] = v;
    cell[KVN_CONTENT_HASH_W_REACHED + t] = intact ? first_stripe + stripes : KVN_CONTENT_HASH_BROKEN;
    if (u64(first_stripe) + u64(stripes) < all_stripes) return;
    kvn_verdict_lanes_[t] = v;
    kvn_hash_intact_[t] = intact ? 1u : 0u;
    kvnBarrier();
    if (t != 0u) return;
    if ((kvn_hash_intact_[0] & kvn_hash_intact_[1] & kvn_hash_intact_[2] & kvn_hash_intact_[3]) == 0u) {
        cell[KVN_CONTENT_HASH_W_VERDICT] = KVN_CONTENT_HASH_CUT;
        return;
    }
    u32 h = xxhJoin(all_stripes > u64(0u) ? 1u : 0u, kvn_verdict_lanes_[0], kvn_verdict_lanes_[1],
                    kvn_verdict_lanes_[2], kvn_verdict_lanes_[3], u32(total));
    u32 at = 16u * stripes;
    u32 left = u32(total & u64(15u));
    for (; left >= 4u; left -= 4u) {
        h = xxhTailWord(h, dataWord(at));
        at += 4u;
    }
    for (; left > 0u; --left) {
        h = xxhTailByte(h, dataByte(at));
        at += 1u;
    }
    h = xxhAvalanche(h);
    // The tail's loops are cut short too once the invocation's budget is spent.
    if (left != 0u) cell[KVN_CONTENT_HASH_W_VERDICT] = KVN_CONTENT_HASH_CUT;
    else cell[KVN_CONTENT_HASH_W_VERDICT] = h == expected ? kVerdictMatch : kVerdictMismatch;
}
#include "kernels/kernel_end.h"
#endif
