// What the parses of the LZ encode kernels (lz_encode_kernel.comp) share: the
// group and sub-chunk state, byte access, the 6-byte hash, same-hash lanes, the
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
// The last input word the group may read: the device copy of the input is
// readable 8 bytes past its end, and words past this one hold no group byte.
u32 lz_last_word;
u32 lz_cur, lz_anchor, lz_recent, lz_sub_lowest, lz_lowest;
bool lz_cut;
// The match candidate of the current sequence.
u32 lz_mstart, lz_msrc, lz_mverified;
bool lz_mdict;

KVN_FN u32 lzByte(u32 pos) { return pos < lz_glen ? u32(src[lz_gbase + pos]) : 0u; }

// The four bytes at pos as a little-endian word (0 for bytes past the
// group), from two aligned word loads.
KVN_FN u32 lzWord(u32 pos) {
    u32 a = lz_gbase + pos;
    u32 lo = src_words[kvnMin(a >> 2u, lz_last_word)];
    u32 hi = src_words[kvnMin((a >> 2u) + 1u, lz_last_word)];
    u32 shift = (a & 3u) * 8u;
    u32 w = shift == 0u ? lo : (lo >> shift) | (hi << (32u - shift));
    u32 valid = pos < lz_glen ? lz_glen - pos : 0u;
    return valid >= 4u ? w : w & ((1u << (8u * valid)) - 1u);
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
    u64 v = u64(word) | (u64(lzWord(pos + 4u) & 0xFFFFu) << 32u);
    u64 golden = (u64(0x9E3779B9u) << 32u) | u64(0x7F4A7C15u);
    return u32(((v << 16u) * golden) >> (64u - hash_bits));
}

KVN_CONST u32 kLzEmpty = 0xFFFFFFFFu;

// What lanes without a position publish: no hash takes it (hash_bits < 32).
KVN_CONST u32 kLzNoHash = 0xFFFFFFFFu;

// The lanes where `flag` holds with the caller's hash h (meaningful where the
// caller's own flag holds). A collective: every lane calls it, so callers
// take it before any `flag && ...` test.
KVN_FN u32 lzSameHashLanes(bool flag, u32 h) { return kvnMatchAny(flag ? h : kLzNoHash); }

// Lanes above the caller's.
KVN_FN u32 lzLanesAbove() { return ~((2u << kvnLane()) - 1u); }

// The nearest of `lanes` below the caller's lane, or 32.
KVN_FN u32 lzNearestBelow(u32 lanes) {
    u32 below = lanes & ((1u << kvnLane()) - 1u);
    return below != 0u ? 31u - kvnClz(below) : 32u;
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

// One 32-pair step of measuring a run of equal byte pairs (lzDifferMask):
// false while the run goes on past the step (done advances by 32), true once
// it has ended, with done its length.
KVN_FN bool lzMeasureStep(u32 start, u32 from, bool in_dict, u32 limit, bool backward, KVN_INOUT(u32) done) {
    u32 m = lzDifferMask(start, from, in_dict, done, limit, backward);
    if (m == 0u) {
        done += 32u;
        return false;
    }
    done += kvnCtz(m);
    return true;
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
KVN_CONST u32 kLzExtend = 5u;  // the greedy parse: both directions in one step

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
