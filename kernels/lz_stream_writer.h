// The sub-chunk stream writer of the LZ encode kernels: sequence emission into
// the scratch areas of a sub-chunk's output slot and the final layout. Every
// lane calls these functions with the same values (the counters stay the same
// in all lanes); lane 0 writes single bytes, runs of tokens go to all lanes.
// Included inside a kernel entry, after kernel_begin.h (no include guard: each
// entry of a source takes its own copy); the entry provides `lz_out`.

// Scratch areas of the sub-chunk being written (slot offsets) and the stream
// counters. Literals are written in their final place.
u32 lzw_lit, lzw_tok, lzw_off16, lzw_off32, lzw_len;
u32 lzw_nl, lzw_nt, lzw_n16, lzw_n32_bytes, lzw_c1, lzw_c2, lzw_nlen;
// Set when a layout move was cut short (lavapipe's loop budget): the caller
// then reports the sub-chunk as failed rather than a half-moved stream.
bool lzw_cut;

// Slot start O, sub-chunk length n, prefix P (8 raw bytes in the frame's
// first sub-chunk). Areas: literals from O + P + 3 (at most n), then tokens,
// off16, off32 and length bytes, each with room for what a sub-chunk of n
// bytes can need. A parse whose matches are at least 4 bytes long needs a
// token per 4 bytes at most; one that writes 2-byte recent matches and
// one-byte splits of literal runs (`short_matches`) a token per 2 bytes.
KVN_FN u32 lzwTokenRoom(u32 n, bool short_matches) { return (short_matches ? n / 2u : n / 4u) + 16u; }
KVN_FN u32 lzwOff16Room(u32 n) { return n / 2u + 8u; }
KVN_FN u32 lzwOff32Room(u32 n) { return n / 3u + 8u; }
KVN_FN u32 lzwLengthRoom(u32 n) { return n / 4u + 8u; }

// Slot bytes a sub-chunk of n bytes needs: 7n/3 + 48 (31n/12 + 48 with short
// matches), within 3n from n = 72 (n = 116), so a slot of 3 x max(n, 116)
// bytes always suffices.
KVN_FN u32 lzwSlotBytes(u32 n, bool short_matches) {
    return n + 8u + lzwTokenRoom(n, short_matches) + lzwOff16Room(n) + lzwOff32Room(n) + lzwLengthRoom(n);
}

KVN_FN void lzwBegin(u32 slot, u32 n, u32 prefix, bool short_matches) {
    lzw_lit = slot + prefix + 3u;
    lzw_tok = slot + n + 8u;
    lzw_off16 = lzw_tok + lzwTokenRoom(n, short_matches);
    lzw_off32 = lzw_off16 + lzwOff16Room(n);
    lzw_len = lzw_off32 + lzwOff32Room(n);
    lzw_nl = 0u;
    lzw_nt = 0u;
    lzw_n16 = 0u;
    lzw_n32_bytes = 0u;
    lzw_c1 = 0u;
    lzw_c2 = 0u;
    lzw_nlen = 0u;
    lzw_cut = false;
}

KVN_FN void lzwByte(u32 at, u32 v) {
    if (kvnLane() == 0u) lz_out[at] = u8(v & 0xFFu);
}

KVN_FN void lzwToken(u32 t) {
    lzwByte(lzw_tok + lzw_nt, t);
    lzw_nt += 1u;
}

// A length-stream value: one byte below 252, else 252 + (v & 3) and a u16.
KVN_FN void lzwLength(u32 v) {
    if (v < KVN_LENGTH_ESCAPE) {
        lzwByte(lzw_len + lzw_nlen, v);
        lzw_nlen += 1u;
        return;
    }
    u32 rest = (v - KVN_LENGTH_ESCAPE) >> 2u;
    lzwByte(lzw_len + lzw_nlen, KVN_LENGTH_ESCAPE + (v & 3u));
    lzwByte(lzw_len + lzw_nlen + 1u, rest);
    lzwByte(lzw_len + lzw_nlen + 2u, rest >> 8u);
    lzw_nlen += 3u;
}

KVN_FN void lzwOff16(u32 d) {
    lzwByte(lzw_off16 + 2u * lzw_n16, d);
    lzwByte(lzw_off16 + 2u * lzw_n16 + 1u, d >> 8u);
    lzw_n16 += 1u;
}

// An off32 entry w: 3 bytes up to 0xBFFFFF, else the 4-byte form (the parse
// keeps such sources out, so that form is written for no match today).
KVN_FN void lzwOff32(u32 w, bool second_half) {
    u32 at = lzw_off32 + lzw_n32_bytes;
    lzwByte(at, w);
    lzwByte(at + 1u, w >> 8u);
    if (w <= KVN_OFF32_SHORT_MAX) {
        lzwByte(at + 2u, w >> 16u);
        lzw_n32_bytes += 3u;
    } else {
        lzwByte(at + 2u, KVN_OFF32_LONG_MARK | ((w >> 16u) & 0x3Fu));
        lzwByte(at + 3u, (w >> KVN_OFF32_LONG_SHIFT) - 3u);
        lzw_n32_bytes += 4u;
    }
    if (second_half) lzw_c2 += 1u;
    else lzw_c1 += 1u;
}

// `runs` copies of a token, one per lane (runs <= 32); `step` is added per
// lane index for the continuation tokens of a match (see lzwSequence).
KVN_FN void lzwTokenRun(u32 runs, u32 first, u32 match_left) {
    u32 lane = kvnLane();
    if (lane < runs) {
        u32 t = first;
        if (match_left != 0u) t = KVN_TOKEN_REPEAT + (kvnMin(match_left - 15u * lane, 15u) << 3u);
        lz_out[lzw_tok + lzw_nt + lane] = u8(t);
    }
    lzw_nt += runs;
}

// The literal part of a run of `len` literals; returns the 0..7 left for the
// next token.
KVN_FN u32 lzwLongLiterals(u32 len) {
    if (len >= KVN_LONG_LITERALS_BASE) {
        lzwLength(len - KVN_LONG_LITERALS_BASE);
        lzwToken(KVN_TOKEN_LONG_LITERALS);
        return 0u;
    }
    if (len <= 7u) return len;
    u32 sevens = (len - 1u) / 7u;  // tokens of seven literals while more than 7 remain
    lzwTokenRun(sevens, KVN_TOKEN_LITERALS_7, 0u);
    return len - 7u * sevens;
}

KVN_FN void lzwLiteralRun(u32 len) {
    if (len == 0u) return;
    u32 rest = lzwLongLiterals(len);
    if (rest != 0u) lzwToken(KVN_TOKEN_REPEAT + rest);
}

// One sequence: `lits` literals (already copied), then `match` bytes at
// distance `dist` (`recent`: the recent offset). far_w is the off32 value
// when the distance is 65,536 or more.
KVN_FN void lzwSequence(u32 lits, u32 match, u32 dist, bool recent, u32 far_w, bool second_half) {
    bool near = recent || dist < 0x10000u;
    u32 rep = recent ? KVN_TOKEN_REPEAT : 0u;
    if (match < 16u && lits < 8u && near) {
        lzwToken(rep + (match << 3u) + lits);
        if (!recent) lzwOff16(dist);
        return;
    }
    u32 rest = lzwLongLiterals(lits);
    if (near && match < KVN_LONG_MATCH16_BASE) {
        u32 first = kvnMin(match, 15u);
        lzwToken(rep + (first << 3u) + rest);
        if (!recent) lzwOff16(dist);
        u32 left = match - first;
        lzwTokenRun((left + 14u) / 15u, 0u, left);
        return;
    }
    if (rest != 0u) lzwToken(KVN_TOKEN_REPEAT + rest);
    if (dist > 0xFFFFu) {
        if (match <= KVN_TOKEN_FAR_MAX + KVN_TOKEN_FAR_BIAS) {
            lzwToken(match - KVN_TOKEN_FAR_BIAS);
        } else {
            lzwToken(KVN_TOKEN_LONG_MATCH32);
            lzwLength(match - KVN_LONG_MATCH32_BASE);
        }
        lzwOff32(far_w, second_half);
    } else {
        lzwToken(KVN_TOKEN_LONG_MATCH16);
        lzwLength(match - KVN_LONG_MATCH16_BASE);
        lzwOff16(dist);
    }
}

// Moves `len` bytes of the slot to a lower or equal place, 32 at a time; each
// block is read whole before it is written, so overlapping ranges move as
// through a temporary.
KVN_FN void lzwMoveDown(u32 to, u32 from, u32 len) {
    u32 lane = kvnLane();
    u32 done = 0u;
    while (done < len) {
        u32 i = done + lane;
        u32 v = i < len ? u32(lz_out[from + i]) : 0u;
        kvnMemoryFence();
        kvnWarpSync();
        if (i < len) lz_out[to + i] = u8(v);
        kvnMemoryFence();
        kvnWarpSync();
        done += 32u;
    }
    if (done < len) lzw_cut = true;
}

KVN_FN void lzwBe24(u32 at, u32 v) {
    lzwByte(at, v >> 16u);
    lzwByte(at + 1u, v >> 8u);
    lzwByte(at + 2u, v);
}

KVN_FN void lzwLe16(u32 at, u32 v) {
    lzwByte(at, v);
    lzwByte(at + 1u, v >> 8u);
}

// Writes the final layout after the 8 raw bytes (written by the caller): the
// literal count, the token count and tokens, the first-half token count (for
// sub-chunks above 65,536 bytes), off16, off32 counts and entries, lengths.
// Returns the end offset. Every destination lies at or below its stream's
// scratch area, and count fields never overlap a stream not yet moved.
KVN_FN u32 lzwFinish(u32 slot, u32 prefix, u32 n, u32 first_half_tokens) {
    // The scratch bytes came from lane 0 and from runs over the lanes.
    kvnMemoryFence();
    kvnWarpSync();
    lzwBe24(slot + prefix, lzw_nl);
    u32 at = lzw_lit + lzw_nl;
    lzwBe24(at, lzw_nt);
    lzwMoveDown(at + 3u, lzw_tok, lzw_nt);
    at += 3u + lzw_nt;
    if (n > KVN_HALF_SIZE) {
        lzwLe16(at, first_half_tokens);
        at += 2u;
    }
    lzwLe16(at, lzw_n16);
    lzwMoveDown(at + 2u, lzw_off16, 2u * lzw_n16);
    at += 2u + 2u * lzw_n16;
    u32 e = KVN_OFF32_COUNT_ESCAPE;
    u32 counts = (kvnMin(lzw_c1, e) << KVN_OFF32_HALF_SHIFT) | kvnMin(lzw_c2, e);
    lzwByte(at, counts);
    lzwLe16(at + 1u, counts >> 8u);
    at += 3u;
    if (lzw_c1 >= e) {
        lzwLe16(at, lzw_c1);
        at += 2u;
    }
    if (lzw_c2 >= e) {
        lzwLe16(at, lzw_c2);
        at += 2u;
    }
    lzwMoveDown(at, lzw_off32, lzw_n32_bytes);
    at += lzw_n32_bytes;
    lzwMoveDown(at, lzw_len, lzw_nlen);
    return at + lzw_nlen;
}
