// Splitting a literal run of 8 to 63 bytes at bytes that repeat from the
// recent offset: such a byte costs no literal when written as a one-byte
// recent match (token 0x88 + literals before it), and the pieces before it
// may need fewer literal tokens than the whole run. Pure functions of the run
// length and a 64-bit mask of run offsets, so the host tests them directly.
// Included inside kernel entries (no include guard: each entry takes its own
// copy) and by host tests after kernels/dialect.h.
//
// Pieces: separators are the repeating bytes at offsets 1 .. len - 1, the
// first of each pair of adjacent ones. The segments between them are walked
// in order; two neighbours whose literal tokens (tail tokens, lzSplitTail)
// and the separator fit one token's seven literals merge into one segment.
// Every other segment is written with its separator; the last segment is
// the literal run of the match's own sequence.

KVN_CONST u32 kLzSplitShortest = 8u;
KVN_CONST u32 kLzSplitLongest = 63u;

KVN_FN u32 lzLowBits64(u64 x) { return u32(x & u64(0xFFFFFFFFu)); }
KVN_FN u32 lzHighBits64(u64 x) { return u32(x >> 32u); }
KVN_FN u32 lzCtz64(u64 x) {
    return lzLowBits64(x) != 0u ? kvnCtz(lzLowBits64(x)) : 32u + kvnCtz(lzHighBits64(x));
}
KVN_FN u32 lzPopcount64(u64 x) { return kvnPopcount(lzLowBits64(x)) + kvnPopcount(lzHighBits64(x)); }
// Index of the highest set bit of a non-zero mask.
KVN_FN u32 lzTopBit64(u64 x) {
    return lzHighBits64(x) != 0u ? 63u - kvnClz(lzHighBits64(x)) : 31u - kvnClz(lzLowBits64(x));
}
// Bits 0 .. n-1 (n up to 63).
KVN_FN u64 lzBelow64(u32 n) { return (u64(1) << n) - u64(1); }

// The literals a segment of s bytes leaves for its last token: s below 8,
// else what follows its tokens of seven.
KVN_FN u32 lzSplitTail(u32 s) { return s < 8u ? s : ((s - 1u) % 7u) + 1u; }

// The run offsets whose separators are written as one-byte recent matches,
// for a run of `len` literals whose bytes at the set bits of `repeats`
// equal the bytes one recent offset back. 0 leaves the run whole.
KVN_FN u64 lzSplitRun(u32 len, u64 repeats) {
    if (len < kLzSplitShortest || len > kLzSplitLongest) return u64(0);
    u64 rest = repeats & lzBelow64(len) & ~u64(1);
    u64 written = u64(0);
    u32 seg = 0u;      // the open segment (possibly merged)
    u32 pending = 0u;  // the separator closing it
    bool open = false;
    // At most 31 separators fit 63 bytes (no two adjacent, none at 0).
#define KVN_LZ_SPLIT_STEP(i)                                                 \
    if (rest != u64(0)) {                                                    \
        u32 k = lzCtz64(rest);                                               \
        rest &= ~(u64(3) << k);                                              \
        if (open) {                                                          \
            u32 next = k - pending - 1u;                                     \
            if (lzSplitTail(seg) + lzSplitTail(next) + 1u <= 7u) {           \
                seg += next + 1u;                                            \
            } else {                                                         \
                written |= u64(1) << pending;                                \
                seg = next;                                                  \
            }                                                                \
        } else {                                                             \
            seg = k;                                                         \
            open = true;                                                     \
        }                                                                    \
        pending = k;                                                         \
    }
    KVN_LZ_UNROLL32(KVN_LZ_SPLIT_STEP)
#undef KVN_LZ_SPLIT_STEP
    if (open && lzSplitTail(seg) + lzSplitTail(len - pending - 1u) + 1u > 7u) written |= u64(1) << pending;
    return written;
}

// The token that ends at run offset k of a split run (0: none). A written
// segment of s literals takes tokens of seven (0x87) while more than seven
// remain, then 0x88 + the rest, which ends at its separator.
KVN_FN u32 lzSplitToken(u32 k, u64 written) {
    u64 before = written & lzBelow64(k);
    u32 start = before != u64(0) ? lzTopBit64(before) + 1u : 0u;
    if (((written >> k) & u64(1)) != u64(0)) {
        u32 s = k - start;
        return KVN_TOKEN_REPEAT + 8u + s - 7u * ((s - 1u) / 7u);
    }
    u64 after = written >> k;
    if (after == u64(0)) return 0u;  // the last segment goes with the match
    u32 s = k + lzCtz64(after) - start;
    u32 off = k - start;
    return off % 7u == 6u && off / 7u < (s - 1u) / 7u ? KVN_TOKEN_REPEAT + 7u : 0u;
}

// The literals left for the match's own sequence.
KVN_FN u32 lzSplitLastLiterals(u32 len, u64 written) {
    return written != u64(0) ? len - lzTopBit64(written) - 1u : len;
}
