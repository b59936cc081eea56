// The frame's Merkle root written into the frame on the device: XXH32 (seed
// 0) of the chunk leaves the body encode hashed, stored little-endian after
// the frame's last byte, so the root reaches the caller with the frame.
#include "kernels/dialect.h"

#define KVN_KERNEL kvnMerkleRootWriteKernel
#define KVN_BLOCK_X 1
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, leaves)                 \
    BUFFER(1, KVN_RW, u8, frame)                  \
    SCALAR(u32, leaf_count)                       \
    SCALAR(u32, offset)
#include "kernels/kernel_begin.h"

#include "kernels/xxh32_steps.h"

// The little-endian word at byte i, read a byte at a time: the leaves need
// no alignment.
KVN_FN u32 leafWord(u32 i) {
    return u32(leaves[i]) | (u32(leaves[i + 1u]) << 8u) | (u32(leaves[i + 2u]) << 16u) | (u32(leaves[i + 3u]) << 24u);
}

// One thread: the leaves are 4 x leaf_count bytes, so the tail is whole
// words and the byte tail never occurs.
KVN_FN void kvnMain() {
    if (kvnBlockIndex() != 0u || kvnThreadIndex() != 0u) return;
    u32 bytes = leaf_count * 4u;
    u32 stripes = bytes / 16u;
    u32 v0 = laneSeed(0u);
    u32 v1 = laneSeed(1u);
    u32 v2 = laneSeed(2u);
    u32 v3 = laneSeed(3u);
    for (u32 s = 0u; s < stripes; ++s) {
        u32 at = 16u * s;
        v0 = xxhRound(v0, leafWord(at));
        v1 = xxhRound(v1, leafWord(at + 4u));
        v2 = xxhRound(v2, leafWord(at + 8u));
        v3 = xxhRound(v3, leafWord(at + 12u));
    }
    u32 h = xxhJoin(stripes, v0, v1, v2, v3, bytes);
    for (u32 at = stripes * 16u; at < bytes; at += 4u) h = xxhTailWord(h, leafWord(at));
    h = xxhAvalanche(h);
    frame[offset] = u8(h & 0xFFu);
    frame[offset + 1u] = u8((h >> 8u) & 0xFFu);
    frame[offset + 2u] = u8((h >> 16u) & 0xFFu);
    frame[offset + 3u] = u8(h >> 24u);
}
#include "kernels/kernel_end.h"
