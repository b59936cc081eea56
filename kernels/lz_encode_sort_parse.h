// The sort-parse of level 5 (mode 2 of the LZ encode module): one warp per
// sub-chunk of at most 65,536 bytes parses it from the two candidates per
// position that the sort pre-pass (lz_sort_kernel.comp) left in the
// workspace, with the recent offset, lazy evaluation of the next two
// positions, and literal runs split at bytes repeated from the recent
// offset (the chain parse's split, lzcWriteShortRun). Included inside each
// entry after lz_encode_chain.h (no include guard); the entry provides the
// encode parameters (`table` carries the workspace address) and the shared
// arrays sp_len[32] and sp_dist[32]. The group is one sub-chunk; lz_region is
// its workspace region.
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
// As in the other parses, the sub-chunk is parsed in one loop whose phases
// take the place of nested loops (lavapipe counts loop iterations per
// invocation, 65,535 in all); a loop cut short leaves the LZ size 0 and the
// host stores the sub-chunk raw.

// Per-sub-chunk state (the same in all lanes): floor, the first position of
// the published window, the lazy choice (position, length, distance;
// distance 0 is the recent offset).
u32 sp_floor, sp_window, sp_x0, sp_len0, sp_dist0;

// lz_region of a group beyond the workspaces a launch can address.
KVN_CONST u32 kLzNoRegion = 0xFFFFFFFFu;

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
    u32 r = lz_recent;
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
    spTry(x, table.data[lz_region + KVN_SORT_CAND_WORD + x], limit, min_len, best, best_dist);
    spTry(x, table.data[lz_region + KVN_SORT_CAND2_WORD + x], limit, min_len, best, best_dist);
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

KVN_CONST u32 kSpScan = 0u;
KVN_CONST u32 kSpLazy = 1u;
KVN_CONST u32 kSpForward = 2u;
KVN_CONST u32 kSpBackward = 3u;
KVN_CONST u32 kSpLiterals = 4u;

// Parses [lz_cur, end) of the sub-chunk (positions relative to its start).
KVN_FN void spParse(u32 end) {
    u32 cur = lz_cur;
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
        u32 dist = sp_dist0 == 0u ? lz_recent : sp_dist0;
        if (phase == kSpLazy) {
            if (spLazyStep(end)) continue;
            phase = kSpForward;
            done = sp_len0;
            dist = sp_dist0 == 0u ? lz_recent : sp_dist0;
        }
        if (phase == kSpForward) {
            u32 limit = end - sp_x0;
            if (sp_len0 < kSpLaneCap || sp_len0 >= limit) {
                forward = kvnMin(sp_len0, limit);
            } else {
                if (!lzMeasureStep(sp_x0, sp_x0 - dist, false, limit, false, done)) continue;
                forward = done;
            }
            phase = kSpBackward;
            done = 0u;
        }
        if (phase == kSpBackward) {
            u32 limit = kvnMin(sp_x0 - lz_anchor, sp_x0 - dist);
            if (!lzMeasureStep(sp_x0, sp_x0 - dist, false, limit, true, done)) continue;
            back = done;
            phase = kSpLiterals;
            done = 0u;
        }
        u32 start = sp_x0 - back;
        u32 lits = start - lz_anchor;
        bool recent = dist == lz_recent;
        u32 own = lits;
        if (lits <= kLzSplitLongest && lz_recent >= sp_floor) {
            own = lzcWriteShortRun(lits);
        } else {
            lzCopyLiteralBlock(lits, done);
            done += 32u;
            if (done < lits) continue;
            lzw_nl += lits;
        }
        lzwSequence(own, back + forward, dist, recent, 0u, false);
        lz_recent = dist;
        lz_anchor = start + back + forward;
        cur = lz_anchor;
        phase = kSpScan;
    }
    if (phase != kSpScan || cur + 5u < end) lz_cut = true;
    lz_cur = cur;
}

// The half [lz_cur, end) of the group's one sub-chunk. A group the pre-pass
// did not cover (several sub-chunks, more than 65,536 bytes, no workspace
// region) is marked cut: its sub-chunks get the LZ size 0 and are stored raw.
KVN_FN void lzSortParseHalf(u32 end) {
    if (lz_glen > KVN_SORT_MAX_LEN || subs_per_group > 1u || lz_region == kLzNoRegion) {
        lz_cut = true;
    } else {
        sp_floor = min_dist;
        lz_lowest = lz_sub_lowest;
        spParse(end);
    }
    lzWriteTail(end);
}
