// The sub-chunk stream writer of the LZ encode kernels: sequence emission into
// the scratch areas of a sub-chunk's output slot and the final layout. Every
// lane calls these functions with the same values (the counters stay the same
// in all lanes); a sequence's bytes go out in one store over the lanes, the
// layout's count fields from lane 0.
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

// Byte i of a length-stream value: one byte below 252, else 252 + (v & 3)
// and a u16.
KVN_FN u32 lzwLengthByte(u32 v, u32 i) {
    u32 rest = (v - KVN_LENGTH_ESCAPE) >> 2u;
    if (v < KVN_LENGTH_ESCAPE) return v;
    return i == 0u ? KVN_LENGTH_ESCAPE + (v & 3u) : (i == 1u ? rest : rest >> 8u);
}

KVN_FN u32 lzwLengthBytes(u32 v) { return v < KVN_LENGTH_ESCAPE ? 1u : 3u; }

// One sequence: `lits` literals (already copied), then `match` bytes at
// distance `dist` (`recent`: the recent offset; no match for the literals
// that end a half). far_w is the off32 value when the distance is 65,536 or
// more. All its bytes are written by one store: lanes 0-15 take the tokens,
// 16-23 the length bytes, 24-27 the offset bytes (at most 14, 6 and 4).
KVN_FN void lzwSequence(u32 lits, u32 match, u32 dist, bool recent, u32 far_w, bool second_half) {
    u32 lane = kvnLane();
    // The literal count: a long-literals token with a length, or tokens of
    // seven literals while more than 7 remain; the 0..7 left go into the
    // next token.
    bool long_lits = lits >= KVN_LONG_LITERALS_BASE;
    u32 sevens = long_lits || lits <= 7u ? 0u : (lits - 1u) / 7u;
    u32 lit_tokens = long_lits ? 1u : sevens;
    u32 rest = long_lits ? 0u : lits - 7u * sevens;
    // A near match below KVN_LONG_MATCH16_BASE: a token with up to 15 bytes
    // and the rest, and then continuation tokens of up to 15 bytes each.
    bool compact = match != 0u && (recent || dist < 0x10000u) && match < KVN_LONG_MATCH16_BASE;
    u32 first = kvnMin(match, 15u);
    u32 left = match - first;
    // Otherwise a token for the rest, then a far token (short far matches),
    // a long-match32 token with a length, or a long-match16 token with one.
    bool far = dist > 0xFFFFu;
    bool far_token = far && match <= KVN_TOKEN_FAR_MAX + KVN_TOKEN_FAR_BIAS;
    u32 rest_tokens = !compact && rest != 0u ? 1u : 0u;
    u32 tokens = lit_tokens + (compact ? 1u + (left + 14u) / 15u : rest_tokens + (match != 0u ? 1u : 0u));
    u32 lit_len = lits - KVN_LONG_LITERALS_BASE;
    u32 lit_len_bytes = long_lits ? lzwLengthBytes(lit_len) : 0u;
    u32 match_len = match - (far ? KVN_LONG_MATCH32_BASE : KVN_LONG_MATCH16_BASE);
    bool match_has_len = match != 0u && !compact && !far_token;
    u32 len_bytes = lit_len_bytes + (match_has_len ? lzwLengthBytes(match_len) : 0u);
    bool off16 = match != 0u && (compact ? !recent : !far);
    bool off32 = match != 0u && !compact && far;
    bool long_w = far_w > KVN_OFF32_SHORT_MAX;
    u32 off_bytes = off16 ? 2u : (off32 ? (long_w ? 4u : 3u) : 0u);

    u32 at = 0u;
    u32 v = 0u;
    bool put = false;
    if (lane < 16u) {
        u32 m = lane - lit_tokens;
        if (lane < lit_tokens) {
            v = long_lits ? KVN_TOKEN_LONG_LITERALS : KVN_TOKEN_LITERALS_7;
        } else if (compact) {
            v = m == 0u ? (recent ? KVN_TOKEN_REPEAT : 0u) + (first << 3u) + rest
                        : KVN_TOKEN_REPEAT + (kvnMin(left - 15u * (m - 1u), 15u) << 3u);
        } else if (m < rest_tokens) {
            v = KVN_TOKEN_REPEAT + rest;
        } else {
            v = far_token ? match - KVN_TOKEN_FAR_BIAS : (far ? KVN_TOKEN_LONG_MATCH32 : KVN_TOKEN_LONG_MATCH16);
        }
        put = lane < tokens;
        at = lzw_tok + lzw_nt + lane;
    } else if (lane < 24u) {
        u32 j = lane - 16u;
        v = j < lit_len_bytes ? lzwLengthByte(lit_len, j) : lzwLengthByte(match_len, j - lit_len_bytes);
        put = j < len_bytes;
        at = lzw_len + lzw_nlen + j;
    } else {
        u32 j = lane - 24u;
        if (j < 2u) {
            v = (off16 ? dist : far_w) >> (8u * j);
        } else if (off16) {
            v = 0u;  // an off16 entry has its two bytes
        } else if (j == 2u) {
            v = long_w ? KVN_OFF32_LONG_MARK | ((far_w >> 16u) & 0x3Fu) : far_w >> 16u;
        } else {
            v = (far_w >> KVN_OFF32_LONG_SHIFT) - 3u;
        }
        put = j < off_bytes;
        at = (off16 ? lzw_off16 + 2u * lzw_n16 : lzw_off32 + lzw_n32_bytes) + j;
    }
    if (put) lz_out[at] = u8(v & 0xFFu);
    lzw_nt += tokens;
    lzw_nlen += len_bytes;
    if (off16) lzw_n16 += 1u;
    if (off32) {
        lzw_n32_bytes += off_bytes;
        if (second_half) lzw_c2 += 1u;
        else lzw_c1 += 1u;
    }
}

// A run of `len` literals (already copied) with no match after it.
KVN_FN void lzwLiteralRun(u32 len) { lzwSequence(len, 0u, 0u, false, 0u, false); }

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
