// The sort-parse of level 5 (mode 2 of the LZ encode module): one warp per
// sub-chunk of at most 65,536 bytes parses it from the two candidates per
// position that the sort pre-pass (lz_sort_kernel.comp) left in the
// workspace, with the recent offset, lazy evaluation of the next two
// positions, and literal runs split at bytes repeated from the recent
// offset. Included inside the entry after kernel_begin.h and
// lz_encode_window.h (no include guard); the entry provides the encode
// parameters (`table` carries the workspace address) and the shared arrays
// sp_len[32] and sp_dist[32].
//
// A position's search depends only on the anchor and the recent offset,
// which stay put until a sequence is written, so the 32 lanes search 32
// consecutive positions at once: the parse moves straight to the first one
// with a match, and the lazy steps read their positions' results from the
// same window. Lane lengths are compared up to 64 bytes without a loop; the
// chosen match is then extended in full. Candidates are checked byte for
// byte rather than trusted, so the streams are right whatever the workspace
// holds.
//
// As in the greedy parse, the sub-chunk is parsed in one loop whose phases
// take the place of nested loops (lavapipe counts loop iterations per
// invocation, 65,535 in all); a loop cut short leaves the LZ size 0 and the
// host stores the sub-chunk raw.

// Per-sub-chunk state (the same in all lanes): workspace region, recent
// offset, floor, the first position of the published window, the lazy
// choice (position, length, distance; distance 0 is the recent offset).
u32 sp_region, sp_recent, sp_floor, sp_window, sp_x0, sp_len0, sp_dist0;

KVN_DEFINE_COMMON_LENGTH(spCommonLength, lzWord)

// Longest length a lane compares; a longer match is extended after the choice.
KVN_CONST u32 kSpLaneCap = KVN_SORT_MAX_CAND_LEN;

// Candidate word c at x when it checks out: its length (at least min_len)
// replaces best when longer, or as long and nearer.
KVN_FN void spTry(u32 x, u32 c, u32 limit, u32 min_len, KVN_INOUT(u32) best, KVN_INOUT(u32) best_dist) {
    u32 d = c & 0xFFFFu;
    if (d == 0u || d < sp_floor || d > x) return;
    u32 len = spCommonLength(x, x - d, limit);
    if (len >= min_len && (len > best || (len == best && d < best_dist))) {
        best = len;
        best_dist = d;
    }
}

// The search at x with the literal run x - anchor: (length, distance), a
// length below 2 for no match.
KVN_FN void spSearch(u32 x, u32 end, KVN_OUT(u32) len, KVN_OUT(u32) dist) {
    len = 0u;
    dist = 0u;
    u32 run = x - lz_anchor;
    u32 min_len = run > 63u ? 5u : 4u;
    u32 limit = kvnMin(end - x, kSpLaneCap);
    u32 r = sp_recent;
    u32 rlen = 0u;
    if (r >= sp_floor && x >= r) {
        u32 l = spCommonLength(x, x - r, limit);
        if (l >= 4u) {
            len = l;
            return;
        }
        rlen = run > 63u && l < 3u ? 0u : l;
    }
    u32 best = 0u;
    u32 best_dist = 0u;
    spTry(x, table.data[sp_region + KVN_SORT_CAND_WORD + x], limit, min_len, best, best_dist);
    spTry(x, table.data[sp_region + KVN_SORT_CAND2_WORD + x], limit, min_len, best, best_dist);
    if (best != 0u && (rlen < 2u || rlen + 1u < best)) {
        len = best;
        dist = best_dist == r ? 0u : best_dist;
    } else if (rlen >= 2u) {
        len = rlen;
    }
}

// Every lane searches position base + lane (those that leave more than 5
// bytes) and publishes its result.
KVN_FN void spSearchWindow(u32 base, u32 end) {
    u32 lane = kvnLane();
    u32 x = base + lane;
    u32 len = 0u;
    u32 dist = 0u;
    if (x + 5u < end) spSearch(x, end, len, dist);
    kvnWarpSync();  // the previous window's readers are done
    sp_len[lane] = len;
    sp_dist[lane] = dist;
    sp_window = base;
    kvnWarpSync();
}

// Cost of moving the choice from (len0, dist0) to (len1, dist1): 5 per byte
// gained, a new offset costs more than a recent one.
KVN_FN i32 spScore(u32 len0, u32 dist0, u32 len1, u32 dist1) {
    i32 c0 = dist0 == 0u ? -5 : 11;
    i32 c1 = dist1 == 0u ? 0 : 16;
    return 5 * (i32(len1) - i32(len0)) + c0 - c1;
}

// One lazy step from sp_x0: true when the choice moved to x0 + 1 or x0 + 2.
KVN_FN bool spLazyStep(u32 end) {
    if (sp_x0 + 6u >= end) return false;
    u32 i = sp_x0 + 1u - sp_window;
    u32 len = sp_len[i];
    u32 dist = sp_dist[i];
    if (len >= 2u && spScore(sp_len0, sp_dist0, len, dist) > 0) {
        sp_x0 += 1u;
    } else {
        if (sp_x0 + 7u >= end || sp_len0 == 2u) return false;
        len = sp_len[i + 1u];
        dist = sp_dist[i + 1u];
        if (len < 2u || spScore(sp_len0, sp_dist0, len, dist) < 5) return false;
        sp_x0 += 2u;
    }
    sp_len0 = len;
    sp_dist0 = dist;
    return true;
}

// Length of the run of set bits that ends at bit k (set) of the 64-bit mask
// (low, high); bit 0 is never set.
KVN_FN u32 spRunEndingAt(u32 low, u32 high, u32 k) {
    if (k < 32u) return k - (31u - kvnClz(~low & kvnLowMask(k + 1u)));
    u32 j = k - 32u;
    u32 zeros = ~high & kvnLowMask(j + 1u);
    if (zeros != 0u) return j - (31u - kvnClz(zeros));
    return j + 1u + kvnClz(~low);
}

// Byte `pos` repeats the byte one recent offset back.
KVN_FN bool spRepeatsRecent(u32 pos) { return pos >= sp_recent && lzByte(pos) == lzByte(pos - sp_recent); }

// Literal count of a segment as its last token carries it.
KVN_FN u32 spTokenLiterals(u32 s) { return s < 8u ? s : (s - 1u) % 7u + 1u; }

// A run of `lits` (8 to 63) literals before a match: bytes repeated from the
// recent offset (not right after another such byte) split the run; pieces
// too small to pay for their own token merge back. Written pieces end in
// one byte from the recent offset. Copies the literals that remain and
// returns the length of the last piece, whose literals go with the match.
KVN_FN u32 spSplitRun(u32 lits) {
    u32 lane = kvnLane();
    u32 k0 = lane;
    u32 k1 = lane + 32u;
    bool e0 = k0 >= 1u && k0 < lits && spRepeatsRecent(lz_anchor + k0);
    bool e1 = k1 < lits && spRepeatsRecent(lz_anchor + k1);
    u32 eq_low = kvnBallot(e0);
    u32 eq_high = kvnBallot(e1);
    // A repeated byte separates when it is the first, third, ... of its row.
    u32 sep_low = kvnBallot(e0 && (spRunEndingAt(eq_low, eq_high, k0) & 1u) != 0u);
    u32 sep_high = kvnBallot(e1 && (spRunEndingAt(eq_low, eq_high, k1) & 1u) != 0u);
    u32 kept_low = 0u;
    u32 kept_high = 0u;
    u32 last = lits;
    if ((sep_low | sep_high) != 0u) {
        // Walk the pieces; the end of the run closes the last one.
        u32 prev = sep_low != 0u ? kvnCtz(sep_low) : 32u + kvnCtz(sep_high);
        if (prev < 32u) sep_low &= sep_low - 1u;
        else sep_high &= sep_high - 1u;
        last = prev;
        bool walking = true;
        u32 steps = 0u;
        while (walking && steps < 32u) {
            u32 k = lits;
            if (sep_low != 0u) {
                k = kvnCtz(sep_low);
                sep_low &= sep_low - 1u;
            } else if (sep_high != 0u) {
                k = 32u + kvnCtz(sep_high);
                sep_high &= sep_high - 1u;
            }
            u32 next = k - prev - 1u;
            if (spTokenLiterals(last) + spTokenLiterals(next) + 1u <= 7u) {
                last += next + 1u;
            } else {
                u32 rest = lzwLongLiterals(last);
                lzwToken(KVN_TOKEN_REPEAT + (1u << KVN_TOKEN_MATCH_SHIFT) + rest);
                if (prev < 32u) kept_low |= 1u << prev;
                else kept_high |= 1u << (prev - 32u);
                last = next;
            }
            walking = k != lits;
            prev = k;
            steps += 1u;
        }
        if (walking) lz_cut = true;
    }
    // Literals in order, without the kept separators.
    u32 kept = kvnPopcount(kept_low) + kvnPopcount(kept_high);
    if (k0 < lits && (kept_low & (1u << k0)) == 0u) {
        u32 below = kvnPopcount(kept_low & kvnLowMask(k0));
        lz_out[lzw_lit + lzw_nl + k0 - below] = u8(lzByte(lz_anchor + k0));
    }
    if (k1 < lits && (kept_high & (1u << lane)) == 0u) {
        u32 below = kvnPopcount(kept_low) + kvnPopcount(kept_high & kvnLowMask(lane));
        lz_out[lzw_lit + lzw_nl + k1 - below] = u8(lzByte(lz_anchor + k1));
    }
    lzw_nl += lits - kept;
    return last;
}

KVN_CONST u32 kSpScan = 0u;
KVN_CONST u32 kSpLazy = 1u;
KVN_CONST u32 kSpForward = 2u;
KVN_CONST u32 kSpBackward = 3u;
KVN_CONST u32 kSpLiterals = 4u;

// Parses [lz_anchor, end) of the sub-chunk (positions relative to its start).
KVN_FN void spParse(u32 end) {
    u32 cur = lz_anchor;
    u32 phase = kSpScan;
    u32 done = 0u;  // bytes compared or literals copied in the current phase
    u32 forward = 0u;
    u32 back = 0u;
    while (phase != kSpScan || cur + 5u < end) {
        bool rescan = phase == kSpLazy && sp_x0 + 2u >= sp_window + 32u;
        if (phase == kSpScan || rescan) spSearchWindow(phase == kSpScan ? cur : sp_x0 + 1u, end);
        if (phase == kSpScan) {
            u32 found = kvnBallot(sp_len[kvnLane()] >= 2u);
            if (found == 0u) {
                cur = kvnMin(cur + 32u, end - 5u);
                continue;
            }
            u32 first = kvnCtz(found);
            sp_x0 = cur + first;
            sp_len0 = sp_len[first];
            sp_dist0 = sp_dist[first];
            phase = kSpLazy;
            // The lazy step goes on in this pass unless it needs the next window.
            if (sp_x0 + 2u >= sp_window + 32u) continue;
        }
        u32 dist = sp_dist0 == 0u ? sp_recent : sp_dist0;
        if (phase == kSpLazy) {
            if (spLazyStep(end)) continue;
            phase = kSpForward;
            done = sp_len0;
            dist = sp_dist0 == 0u ? sp_recent : sp_dist0;
        }
        if (phase == kSpForward) {
            u32 limit = end - sp_x0;
            if (sp_len0 < kSpLaneCap || sp_len0 >= limit) {
                forward = kvnMin(sp_len0, limit);
            } else {
                u32 m = lzDifferMask(sp_x0, sp_x0 - dist, false, done, limit, false);
                if (m == 0u) {
                    done += 32u;
                    continue;
                }
                forward = done + kvnCtz(m);
            }
            phase = kSpBackward;
            done = 0u;
        }
        if (phase == kSpBackward) {
            u32 limit = kvnMin(sp_x0 - lz_anchor, sp_x0 - dist);
            u32 m = lzDifferMask(sp_x0, sp_x0 - dist, false, done, limit, true);
            if (m == 0u) {
                done += 32u;
                continue;
            }
            back = done + kvnCtz(m);
            phase = kSpLiterals;
            done = 0u;
        }
        u32 start = sp_x0 - back;
        u32 lits = start - lz_anchor;
        bool recent = dist == sp_recent;
        u32 own = lits;
        if (lits >= 8u && lits <= 63u && sp_recent >= sp_floor) {
            own = spSplitRun(lits);
        } else {
            lzCopyLiteralBlock(lits, done);
            done += 32u;
            if (done < lits) continue;
            lzw_nl += lits;
        }
        lzwSequence(own, back + forward, dist, recent, 0u, false);
        sp_recent = dist;
        lz_anchor = start + back + forward;
        cur = lz_anchor;
        phase = kSpScan;
    }
    if (phase != kSpScan || cur + 5u < end) lz_cut = true;
}

KVN_FN void lzSortParseMain() {
    u32 index = kvnBlockIndex();
    if (index >= count) return;
    u32 rec = index * KVN_COMPRESS_DESC_WORDS;
    u32 n = descs[rec + KVN_COMPRESS_W_LEN];
    if (n == 0u) return;
    // Positions must fit the key and candidate fields, and the region its
    // 32-bit word offset: anything else is left to the raw store.
    if (n > KVN_SORT_MAX_LEN || index >= KVN_SORT_MAX_BATCH) {
        if (kvnLane() == 0u) lz_sizes[index] = 0u;
        return;
    }
    lz_gbase = descs[rec + KVN_COMPRESS_W_SRC_OFF];
    lz_glen = n;
    u32 b, len, slot, prefix;
    if (!lzOpenSubChunk(index, b, len, slot, prefix)) return;
    sp_region = index * KVN_SORT_REGION_WORDS;
    sp_recent = KVN_INITIAL_REPEAT_DISTANCE;
    sp_floor = min_dist;
    spParse(n);
    lzWriteTail(n);
    lzCloseSubChunk(index, slot, prefix, n, 0u);
}
