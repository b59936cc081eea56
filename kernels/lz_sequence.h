// Group decode of one sub-chunk's LZ sequence (tokens, literals, off16 and
// off32 distances, length stream, halves, repeat distance, dictionary).
//
// Tokens go in windows of up to 32, one per thread: scans over the group
// give every token its output position, literal index and distance, then the
// group copies the window's literals and its match bytes in parallel. A match byte
// copies from ms - d + (x - ms) % d (the same byte a byte-by-byte copy would
// read, also when the match overlaps itself); a source that is itself a match
// byte of an earlier token of the window is followed back to a literal or to
// output written before the window. So no copy waits on another and every
// invocation's loop count grows with bytes / 32 and tokens / 32 (plus one
// per extended length): a valid 131072-byte sub-chunk stays under 20,000
// iterations of lavapipe's 65,535 per invocation.
// Delta literals (never written by the encoder) are decoded token by token.
//
// Included after kernel_begin.h, subchunk_streams.h and one of
// lz_group_warp.h (a warp decodes, lanes 32 apart) or lz_group_block.h (a
// block of four warps decodes in lock-step phases, threads 128 apart) by an
// entry that provides:
//   buffers `payload` (u8) and `out_bytes` (u8, read-write);
//   u32 streamByte(u32 where, u32 at)      a symbol of a located stream;
//   bool hasDictionary(), u32 dictionaryLength(), u32 dictionaryByte(u32 i);
//   launch switch g_kvn_floor_copy;
//   shared u32 arrays of 32 per group (groupSlot() is the group's first):
//   s_tok_pos, s_lit_len, s_lit_pre, s_match_len, s_match_pre, s_dist, s_rep,
//   s_off16_incl.
// No include guard: the C++ builds include it once per entry.

KVN_CONST u32 kTokenNone = 0u;    // long literals, or a lane past the window
KVN_CONST u32 kTokenRepeat = 1u;  // uses the repeat distance
KVN_CONST u32 kTokenOff16 = 2u;
KVN_CONST u32 kTokenOff32 = 3u;
// A token past the end of the window: no literals, no match.
KVN_CONST u32 kNoToken = KVN_TOKEN_REPEAT;
// Most bytes a token without a length-stream value writes (7 literals and a
// 28-byte match bound it).
KVN_CONST u32 kShortTokenBytes = 35u;

// What the sequence decode needs of one sub-chunk, fixed before its tokens.
struct SubChunkSeq {
    ParsedStreams ps;
    bool delta;        // literal mode 0
    u32 base;          // output offset of the sub-chunk
    u32 end;           // end of its output (cut at the output buffer's end)
    u32 off16_count;   // off16 entries available
    u32 off32_at0;     // first-half off32 entries: payload offset and count
    u32 off32_count0;
    u32 off32_at1;     // second-half entries
    u32 off32_count1;
    u32 len_end;       // the length stream ends with the body
};

// Cursors carried from window to window and across the half boundary.
struct SeqState {
    u32 p;        // output position
    u32 lit;      // literal index
    u32 tok;      // token index
    u32 off16;    // off16 entries used
    u32 len_pos;  // length stream position (payload offset)
    u32 rep;      // repeat distance
    bool cut;     // a loop ended before its own condition: the output is incomplete
};

// Set (per thread) when the data leaves an output byte of its chunk
// unwritten: literals or a distance missing where the output needs them, a
// damaged sub-chunk or chunk. The byte would keep what the buffer held, so
// the work item reports the chunk as corrupt instead.
bool lz_unwritten;
// Set when a loop of a helper without a cut flag ended before its condition.
bool lz_loop_cut;

KVN_FN u32 symbolAt(StreamLoc s, u32 i) { return i < s.count ? streamByte(s.where, s.at + i) : 0u; }

KVN_FN u32 off16Entry(SubChunkSeq q, u32 i) {
    if (q.ps.off16_split != 0u) return symbolAt(q.ps.off16_low, i) | (symbolAt(q.ps.off16_high, i) << 8u);
    u32 at = q.ps.off16_off + 2u * i;
    return u32(payload[at]) | (u32(payload[at + 1u]) << 8u);
}

// The extended value v of the length stream; a missing byte reads 0 and
// does not move the cursor, an escape without its two bytes reads as b.
KVN_FN u32 readLength(KVN_INOUT(u32) at, u32 end) {
    if (at >= end) return 0u;
    u32 b = u32(payload[at]);
    if (b >= KVN_LENGTH_ESCAPE && end - at > 2u) {
        u32 v = b + 4u * (u32(payload[at + 1u]) | (u32(payload[at + 2u]) << 8u));
        at += 3u;
        return v;
    }
    at += 1u;
    return b;
}

// Steps over up to `want` off32 entries from `at` (3 bytes, 4 when the third
// is KVN_OFF32_LONG_MARK or more), stopping at the first entry that does not
// fit before `end`. Each round reads 32 candidates as if all were short and
// keeps them up to the first long one. With `keep`, lane k receives the
// value of entry k (want <= 32). Returns the entries taken.
KVN_FN u32 walkOff32(KVN_INOUT(u32) at, u32 want, u32 end, bool keep, KVN_OUT(u32) value, KVN_INOUT(bool) cut) {
    u32 lane = groupThread();
    u32 taken = 0u;
    value = 0u;
    bool more = want > 0u;
    while (more) {
        u32 room = end - at;
        bool wanted = lane < 32u && taken + lane < want;
        bool fits3 = room >= 3u * lane + 3u;
        u32 pos = at + 3u * lane;
        u32 b2 = fits3 ? u32(payload[pos + 2u]) : 0u;
        bool is_long = fits3 && b2 >= KVN_OFF32_LONG_MARK;
        bool fits = fits3 && (!is_long || room >= 3u * lane + 4u);
        u32 w = 0u;
        if (fits) {
            w = u32(payload[pos]) | (u32(payload[pos + 1u]) << 8u) | (b2 << 16u);
            if (is_long) w += u32(payload[pos + 3u]) << KVN_OFF32_LONG_SHIFT;
        }
        u32 wanted_mask = groupBallot(wanted);
        u32 stops = groupBallot(wanted && (is_long || !fits));
        u32 fit_mask = groupBallot(fits);
        u32 n = kvnPopcount(wanted_mask);
        u32 first = kvnCtz(stops);
        u32 got = n;
        u32 advance = 3u * n;
        more = true;
        if (stops != 0u) {
            bool long_fits = (fit_mask & (1u << first)) != 0u;
            got = long_fits ? first + 1u : first;
            advance = long_fits ? 3u * first + 4u : 3u * first;
            more = long_fits;
        }
        if (keep) {
            u32 mine = groupShuffle(w, lane - taken);
            if (lane < 32u && lane >= taken && lane < taken + got) value = mine;
        }
        taken += got;
        at += advance;
        more = more && taken < want;
    }
    if (more) cut = true;
    return taken;
}

KVN_FN u32 dictionaryAt(u32 back) {
    u32 len = dictionaryLength();
    return back <= len ? dictionaryByte(len - back) : 0u;
}

// Largest k < n with table[wb + k] <= v (table non-decreasing, table[wb] <= v).
KVN_FN u32 searchPos(u32 sel, u32 wb, u32 n, u32 v) {
    u32 k = 0u;
    // Five unrolled halvings: no loop for lavapipe to count.
    if (k + 16u < n && (sel == 0u ? s_lit_pre[wb + k + 16u] : sel == 1u ? s_match_pre[wb + k + 16u] : s_tok_pos[wb + k + 16u]) <= v) k += 16u;
    if (k + 8u < n && (sel == 0u ? s_lit_pre[wb + k + 8u] : sel == 1u ? s_match_pre[wb + k + 8u] : s_tok_pos[wb + k + 8u]) <= v) k += 8u;
    if (k + 4u < n && (sel == 0u ? s_lit_pre[wb + k + 4u] : sel == 1u ? s_match_pre[wb + k + 4u] : s_tok_pos[wb + k + 4u]) <= v) k += 4u;
    if (k + 2u < n && (sel == 0u ? s_lit_pre[wb + k + 2u] : sel == 1u ? s_match_pre[wb + k + 2u] : s_tok_pos[wb + k + 2u]) <= v) k += 2u;
    if (k + 1u < n && (sel == 0u ? s_lit_pre[wb + k + 1u] : sel == 1u ? s_match_pre[wb + k + 1u] : s_tok_pos[wb + k + 1u]) <= v) k += 1u;
    return k;
}
KVN_CONST u32 kByLiteral = 0u;
KVN_CONST u32 kByMatch = 1u;
KVN_CONST u32 kByPosition = 2u;

// One step back along a chain of window matches: a source that is a match
// byte of an earlier window token (whose match wrote) becomes that byte's
// own source. Nothing happens once the source lies before the window, in a
// literal, or before the output buffer's start.
KVN_FN void followSource(u32 wb, u32 n, u32 wp, KVN_INOUT(u32) src, KVN_INOUT(bool) before_zero,
                         KVN_INOUT(u32) deficit, KVN_INOUT(bool) follow) {
    if (!follow) return;
    u32 j = searchPos(kByPosition, wb, n, src);
    u32 mj = s_tok_pos[wb + j] + s_lit_len[wb + j];
    u32 dj = s_dist[wb + j];
    follow = src >= mj && dj != 0u;
    if (follow) {
        u32 rj = (src - mj) % dj;
        before_zero = mj + rj < dj;
        deficit = before_zero ? dj - mj - rj : 0u;
        src = before_zero ? 0u : mj + rj - dj;
        follow = !before_zero && src >= wp;
    }
}

// The byte a match byte at x copies: the match starts at ms with distance d
// (d <= ms without a dictionary). Sources inside the window [wp, x) that are
// match bytes of earlier window tokens are followed back (n tokens, shared
// slot wb); with n 0 nothing is followed (the caller has ordered the copies).
KVN_FN u32 matchByte(SubChunkSeq q, u32 x, u32 ms, u32 d, u32 wp, u32 wb, u32 n, KVN_INOUT(bool) cut) {
    u32 r = (x - ms) % d;
    bool before_zero = ms + r < d;  // only with a dictionary
    u32 src = before_zero ? 0u : ms + r - d;
    u32 deficit = before_zero ? d - ms - r : 0u;
    bool follow = !before_zero && src >= wp && n > 0u;
    // Each step lands in an earlier token, so 31 steps end every chain of a
    // 32-token window. Chains are short in real data: the first step costs
    // lavapipe no loop iteration; the others stay inside the loop, which
    // lavapipe skips when no lane enters it (a straight-line step runs for
    // every byte). A window of one-byte matches that each copy the one
    // before costs about 31 iterations per 32 output bytes.
    followSource(wb, n, wp, src, before_zero, deficit, follow);
    for (u32 hop = 1u; follow && hop < 31u; ++hop) followSource(wb, n, wp, src, before_zero, deficit, follow);
    if (follow) cut = true;
    if (before_zero) return dictionaryAt(q.base + deficit);
    if (hasDictionary() && src < q.base) return dictionaryAt(q.base - src);
    return u32(out_bytes[src]);
}

// Literals li, li+1, ... to output x0, x0+1, ... (count of them), skipping
// positions at or past the end and indexes at or past the literal count. In
// delta mode each adds the output byte rep back (0 before the buffer's start),
// which may be a byte of this run: steps of min(rep, 32) keep that in order.
KVN_FN void copyLiteralRun(SubChunkSeq q, u32 x0, u32 count, u32 li, u32 rep) {
    if (x0 >= q.end) return;
    u32 todo = kvnMin(count, q.end - x0);
    bool delta = q.delta && rep != 0u;
    u32 step = delta ? kvnMin(rep, kGroupThreads) : kGroupThreads;
    u32 done = 0u;
    for (; done < todo; done += step) {
        u32 k = done + groupThread();
        if (groupThread() < step && k < todo && li + k >= q.ps.lit.count) lz_unwritten = true;
        if (groupThread() < step && k < todo && li + k < q.ps.lit.count) {
            u32 x = x0 + k;
            u32 b = streamByte(q.ps.lit.where, q.ps.lit.at + li + k);
            if (delta && rep <= x) b = (b + u32(out_bytes[x - rep])) & 0xFFu;
            out_bytes[x] = u8(b);
        }
        if (delta) groupSync();
    }
    if (done < todo) lz_loop_cut = true;
    groupSync();
}

// Fills the output from the current position to `to` with the next literals.
KVN_FN void fillLiterals(SubChunkSeq q, KVN_INOUT(SeqState) st, u32 to) {
    if (st.p >= to) return;
    copyLiteralRun(q, st.p, to - st.p, st.lit, st.rep);
    st.lit += to - st.p;
    st.p = to;
}

// One match in token order (delta mode): every source byte is final. With
// the floor-copy switch a match at distance 32 or more goes in 32-byte steps
// straight from x - d; otherwise each byte reads ms - d + (x - ms) % d.
KVN_FN void copyMatchInOrder(SubChunkSeq q, u32 ms, u32 len, u32 d, KVN_INOUT(bool) cut) {
    if (ms >= q.end || len == 0u) return;
    if (d == 0u) {
        lz_unwritten = true;
        return;
    }
    u32 todo = kvnMin(len, q.end - ms);
    bool floor_steps = g_kvn_floor_copy != 0u && d >= 32u;
    u32 step = floor_steps ? 32u : kGroupThreads;
    u32 done = 0u;
    for (; done < todo; done += step) {
        u32 k = done + groupThread();
        if (groupThread() < step && k < todo) {
            u32 x = ms + k;
            u32 b = floor_steps ? matchByte(q, x, x, d, 0u, 0u, 0u, cut) : matchByte(q, x, ms, d, 0u, 0u, 0u, cut);
            out_bytes[x] = u8(b);
        }
        if (floor_steps) groupSync();
    }
    if (done < todo) cut = true;
    groupSync();
}

// Decodes tokens st.tok .. tok_end - 1 of one half (base half_base, off32
// entries from at32, count32 of them), stopping once the output is full.
KVN_FN void decodeTokens(SubChunkSeq q, KVN_INOUT(SeqState) st, u32 tok_end, u32 half_base, u32 at32, u32 count32) {
    u32 lane = groupThread();
    u32 wb = groupSlot();
    u32 used32 = 0u;
    while (st.tok < tok_end && st.p < q.end) {
        u32 n = kvnMin(32u, tok_end - st.tok);
        bool live = lane < n;
        u32 t = live ? symbolAt(q.ps.tok, st.tok + lane) : kNoToken;

        // Length-stream values in token order; every lane walks the stream.
        u32 readers = groupBallot(t <= KVN_TOKEN_LONG_MATCH32);
        u32 v = 0u;
        u32 rest = readers;
        while (rest != 0u) {
            u32 k = kvnCtz(rest);
            rest &= rest - 1u;
            u32 x = readLength(st.len_pos, q.len_end);
            if (lane == k) v = x;
        }
        if (rest != 0u) st.cut = true;

        u32 lits = 0u;
        u32 mlen = 0u;
        u32 kind = kTokenNone;
        if (t >= KVN_TOKEN_REPEAT) {
            lits = t & KVN_TOKEN_LIT_MASK;
            mlen = (t >> KVN_TOKEN_MATCH_SHIFT) & KVN_TOKEN_MATCH_MASK;
            kind = kTokenRepeat;
        } else if (t >= KVN_TOKEN_SHORT_MIN) {
            lits = t & KVN_TOKEN_LIT_MASK;
            mlen = t >> KVN_TOKEN_MATCH_SHIFT;
            kind = kTokenOff16;
        } else if (t == KVN_TOKEN_LONG_LITERALS) {
            lits = v + KVN_LONG_LITERALS_BASE;
        } else if (t == KVN_TOKEN_LONG_MATCH16) {
            mlen = v + KVN_LONG_MATCH16_BASE;
            kind = kTokenOff16;
        } else {
            mlen = t == KVN_TOKEN_LONG_MATCH32 ? v + KVN_LONG_MATCH32_BASE : t + KVN_TOKEN_FAR_BIAS;
            kind = kTokenOff32;
        }

        u32 adv = lits + mlen;
        u32 below = groupLanesBelow();
        u32 is16 = kind == kTokenOff16 ? 1u : 0u;
        // A window without length-stream values whose output fits before the
        // end takes one scan for both byte prefixes and the off16 ranks
        // (fields of 11, 8 and 6 bits); any other takes two and a ballot.
        bool short_window = readers == 0u && q.end - st.p >= 32u * kShortTokenBytes;
        u32 adv_incl = 0u;
        u32 lit_incl = 0u;
        u32 off16_incl = 0u;
        if (short_window) {
            u32 packed = groupInclusiveAdd(adv | (lits << 11u) | (is16 << 19u));
            adv_incl = packed & 0x7FFu;
            lit_incl = (packed >> 11u) & 0xFFu;
            off16_incl = packed >> 19u;
        } else {
            adv_incl = groupInclusiveAdd(adv);
            lit_incl = groupInclusiveAdd(lits);
            off16_incl = kvnPopcount(groupBallot(is16 != 0u) & below) + is16;
        }
        u32 tp = st.p + adv_incl - adv;
        u32 lit_pre = lit_incl - lits;

        // New distances: off16 entries in token order while they last ...
        u32 idx16 = st.off16 + off16_incl - is16;
        bool new_dist = kind == kTokenOff16 && idx16 < q.off16_count;
        u32 d = new_dist ? off16Entry(q, idx16) : 0u;
        // ... and off32 entries of this half, counted back from its base.
        u32 m32 = used32 < count32 ? groupBallot(kind == kTokenOff32) : 0u;
        if (m32 != 0u) {
            u32 want = kvnMin(kvnPopcount(m32), count32 - used32);
            u32 entry;
            walkOff32(at32, want, q.len_end, true, entry, st.cut);
            u32 rank = kvnPopcount(m32 & below);
            u32 w = groupShuffle(entry, rank);
            if (kind == kTokenOff32 && rank < want) {
                new_dist = true;
                d = (tp - half_base) + w;
            }
            used32 += want;
        }
        // The repeat distance each token sees: its own new one, else the last
        // one before it in the window, else the one carried in.
        u32 news = groupBallot(new_dist);
        u32 news_below = news & below;
        u32 prev = groupShuffle(d, news_below != 0u ? 31u - kvnClz(news_below) : 0u);
        u32 rep = new_dist ? d : (news_below != 0u ? prev : st.rep);
        u32 ms = tp + lits;
        bool copies = mlen != 0u && rep != 0u && (hasDictionary() || rep <= ms);

        if (lane < 32u) {
            s_tok_pos[wb + lane] = tp;
            s_lit_len[wb + lane] = lits;
            s_lit_pre[wb + lane] = lit_pre;
            s_match_len[wb + lane] = mlen;
            s_match_pre[wb + lane] = (adv_incl - adv) - lit_pre;
            s_dist[wb + lane] = copies ? rep : 0u;
            s_rep[wb + lane] = rep;
            s_off16_incl[wb + lane] = off16_incl;
        }
        groupSync();

        // The window's last entry (a token, or a lane past the window's
        // tokens) carries its totals and the repeat distance after it.
        u32 wp = st.p;
        u32 total = s_tok_pos[wb + 31u] + s_lit_len[wb + 31u] + s_match_len[wb + 31u] - wp;
        u32 lit_total = s_lit_pre[wb + 31u] + s_lit_len[wb + 31u];
        st.rep = s_rep[wb + 31u];
        st.off16 = kvnMin(st.off16 + s_off16_incl[wb + 31u], q.off16_count);
        u32 room = q.end - wp;
        if (q.delta) {
            u32 k = 0u;
            for (; k < n; ++k) {
                copyLiteralRun(q, s_tok_pos[wb + k], s_lit_len[wb + k], st.lit + s_lit_pre[wb + k], s_rep[wb + k]);
                copyMatchInOrder(q, s_tok_pos[wb + k] + s_lit_len[wb + k], s_match_len[wb + k], s_dist[wb + k],
                                 st.cut);
            }
            if (k < n) st.cut = true;
        } else {
            // Output positions grow at least as fast as the byte index, so
            // bytes past `room` would all land beyond the end.
            u32 lit_bytes = kvnMin(lit_total, room);
            u32 i = lane;
            for (; i < lit_bytes; i += kGroupThreads) {
                u32 k = searchPos(kByLiteral, wb, n, i);
                u32 x = s_tok_pos[wb + k] + (i - s_lit_pre[wb + k]);
                u32 li = st.lit + i;
                if (x < q.end && li < q.ps.lit.count) out_bytes[x] = u8(streamByte(q.ps.lit.where, q.ps.lit.at + li));
                if (x < q.end && li >= q.ps.lit.count) lz_unwritten = true;
            }
            if (i < lit_bytes) st.cut = true;
            groupSync();
            u32 match_bytes = kvnMin(total - lit_total, room);
            for (i = lane; i < match_bytes; i += kGroupThreads) {
                u32 k = searchPos(kByMatch, wb, n, i);
                u32 dk = s_dist[wb + k];
                u32 ms_k = s_tok_pos[wb + k] + s_lit_len[wb + k];
                u32 x = ms_k + (i - s_match_pre[wb + k]);
                if (dk != 0u && x < q.end) out_bytes[x] = u8(matchByte(q, x, ms_k, dk, wp, wb, n, st.cut));
                if (dk == 0u && x < q.end) lz_unwritten = true;
            }
            if (i < match_bytes) st.cut = true;
            groupSync();
        }
        st.p = wp + total;
        st.lit += lit_total;
        st.tok += n;
    }
    if (st.tok < tok_end && st.p < q.end) st.cut = true;
}

// Decodes the sequence of one coded sub-chunk whose 8 raw bytes (if any) are
// already in place: both halves, then the literals left up to the end.
KVN_FN void decodeSequence(SubChunkSeq q, u32 decoded, u32 ntok, KVN_INOUT(SeqState) st) {
    st.p = q.base + q.ps.prefix_len;
    st.lit = 0u;
    st.tok = 0u;
    st.off16 = 0u;
    st.rep = KVN_INITIAL_REPEAT_DISTANCE;
    bool halves = decoded > KVN_HALF_SIZE;
    u32 first_end = ntok;
    if (halves && q.ps.token_split != 0u && q.ps.token_split < ntok) first_end = q.ps.token_split;
    decodeTokens(q, st, first_end, q.base, q.off32_at0, q.off32_count0);
    if (halves) {
        u32 half_end = kvnMax(kvnMin(q.base + KVN_HALF_SIZE, q.end), st.p);
        fillLiterals(q, st, half_end);
        st.tok = first_end;
        decodeTokens(q, st, ntok, half_end, q.off32_at1, q.off32_count1);
    }
    fillLiterals(q, st, q.end);
}
