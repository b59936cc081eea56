// What the parses of the LZ encode kernels (lz_encode_kernel.comp) share: the
// group and sub-chunk state, byte access, the 6-byte hash, lane exchange, the
// 32-lane match extension and literal copy, and the tail of a half. Included
// inside each entry after kernel_begin.h (no include guard: every entry takes
// its own copy); the entry provides the parameters, `lz_mode` and `lz_hash16`.
//
// lavapipe ends an invocation's loops after 65,535 iterations in total, so a
// half is parsed in one loop without nested ones (each parse folds its work
// into phases of that loop); every data-dependent loop tests its exit
// condition again after it ends, and a loop cut short leaves the sub-chunk's
// LZ size at 0 (the host then stores the chunk raw): never a wrong stream.

#include "kernels/lz_stream_writer.h"
#include "kernels/lz_unroll.h"

// State of the group and sub-chunk being parsed (the same in all lanes).
u32 lz_gbase, lz_glen, lz_region;
u32 lz_cur, lz_anchor, lz_recent, lz_sub_lowest, lz_lowest;
bool lz_cut;
// The match candidate of the current sequence.
u32 lz_mstart, lz_msrc, lz_mverified;
bool lz_mdict;

KVN_FN u32 lzByte(u32 pos) { return pos < lz_glen ? u32(src[lz_gbase + pos]) : 0u; }

KVN_FN u32 lzWord(u32 pos) {
    return lzByte(pos) | (lzByte(pos + 1u) << 8u) | (lzByte(pos + 2u) << 16u) | (lzByte(pos + 3u) << 24u);
}

// Byte `pos` of a match source: the dictionary or the group.
KVN_FN u32 lzSourceByte(bool in_dict, u32 pos) { return in_dict ? u32(dict.data[pos]) : lzByte(pos); }

KVN_FN u32 lzDictWord(u32 pos) {
    return u32(dict.data[pos]) | (u32(dict.data[pos + 1u]) << 8u) | (u32(dict.data[pos + 2u]) << 16u) |
           (u32(dict.data[pos + 3u]) << 24u);
}

// Hash of the six bytes at pos, given its first four as a word (little-endian
// 48-bit value); it also indexes the dictionary table.
KVN_FN u32 lzHashOf(u32 word, u32 pos) {
    u64 v = u64(word) | (u64(lzByte(pos + 4u)) << 32u) | (u64(lzByte(pos + 5u)) << 40u);
    u64 golden = (u64(0x9E3779B9u) << 32u) | u64(0x7F4A7C15u);
    return u32(((v << 16u) * golden) >> (64u - hash_bits));
}

KVN_CONST u32 kLzEmpty = 0xFFFFFFFFu;

// Publishes each lane's hash and flag for the lookups below.
KVN_FN void lzPublish(u32 h, bool flag) {
    u32 lane = kvnLane();
    lz_lane_hash[lane] = h;
    lz_lane_flag[lane] = flag ? 1u : 0u;
    kvnWarpSync();
}

// The nearest flagged lane below `lane` with hash h, or 32 (unrolled without
// branches: no loop, constant indices; the last match is the nearest).
#define KVN_LZ_LOWER(j) \
    found = (u32(lz_lane_hash[j] == h) & lz_lane_flag[j] & u32(u32(j) < lane)) != 0u ? u32(j) : found;
KVN_FN u32 lzLowerSameHash(u32 lane, u32 h) {
    u32 found = 32u;
    KVN_LZ_UNROLL32(KVN_LZ_LOWER)
    return found;
}

#define KVN_LZ_HIGHER(j) shared_hash |= u32(lz_lane_hash[j] == h) & lz_lane_flag[j] & u32(u32(j) > lane);
KVN_FN bool lzHigherSameHash(u32 lane, u32 h) {
    u32 shared_hash = 0u;
    KVN_LZ_UNROLL32(KVN_LZ_HIGHER)
    return shared_hash != 0u;
}

// Copies the literals [at, at + 32) of the run of `len` literals from
// lz_anchor to the literal stream.
KVN_FN void lzCopyLiteralBlock(u32 len, u32 at) {
    u32 i = at + kvnLane();
    if (i < len) lz_out[lzw_lit + lzw_nl + i] = u8(u32(src[lz_gbase + lz_anchor + i]));
}

// Lanes whose byte pair at distance done + lane differs (or lies at or past
// limit), forward from start/from or, with `backward`, before them.
KVN_FN u32 lzDifferMask(u32 start, u32 from, bool in_dict, u32 done, u32 limit, bool backward) {
    u32 i = done + kvnLane();
    bool differ = i >= limit;
    if (!differ) {
        // One pair of loads for both directions keeps the module small.
        u32 a = backward ? start - 1u - i : start + i;
        u32 b = backward ? from - 1u - i : from + i;
        differ = lzByte(a) != lzSourceByte(in_dict, b);
    }
    return kvnBallot(differ);
}

// A sequence is found and written in phases, all in the one parse loop:
// lavapipe charges every loop one iteration each time control reaches it,
// even where no lane runs it, so nested loops would cost a share of the
// budget on every scan step. Extending a match or copying literals past the
// first 32 bytes takes further passes of the parse loop.
KVN_CONST u32 kLzScan = 0u;
KVN_CONST u32 kLzForward = 1u;
KVN_CONST u32 kLzBackward = 2u;
KVN_CONST u32 kLzLiterals = 3u;
KVN_CONST u32 kLzInsert = 4u;

// The literals after the last sequence of a half, up to its end.
KVN_FN void lzWriteTail(u32 end) {
    u32 tail = end - lz_anchor;
    u32 done = 0u;
    while (done < tail) {
        lzCopyLiteralBlock(tail, done);
        done += 32u;
    }
    if (done < tail) lz_cut = true;
    lzw_nl += tail;
    lzwLiteralRun(tail);
    lz_anchor = end;
}
