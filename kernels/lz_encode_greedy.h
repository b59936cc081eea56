// The greedy parse of the LZ encode kernels (lz_encode_kernel.comp, mode 0).
// Included inside each entry after lz_encode_common.h (no include guard:
// every entry takes its own copy).
//
// A warp parses one group at a time. Each scan step looks at up to 27
// consecutive positions (24 at levels that enter the positions inside
// matches: the other lanes enter those), one per lane; the lowest lane with
// a candidate wins (same-step repeat, table, recent offset, distance 8,
// dictionary, in that order), the match is extended 96 bytes forward and 32
// backward a step, and the sequence goes to the stream writer. Every value
// that decides control flow is the same in all lanes, so the collectives are
// always reached by the whole warp.
//
// On lavapipe every branch of the parse loop runs on each pass (masked), and
// each memory access is a loop over the lanes: a pass costs about its count
// of memory accesses and barriers, whatever it does. Hence one store for a
// sequence's bytes, word loads, and steps that share their accesses.
//
// A step without any candidate moves past all the positions it examined. The
// one-position-at-a-time parse would advance by 1 to 16 positions and look at
// the rest again, but a position's candidate depends only on the positions
// entered before it, and every position the parse passes over is entered
// either way; so the streams are the same, with up to 27 times fewer steps
// through literal stretches.
//
// Positions inside the last match still to enter the table (levels that
// enter them): lz_pend_start + 2^k for k from lz_pend_k while 2^k is below
// lz_pend_match.
u32 lz_pend_start, lz_pend_match, lz_pend_k;

// Table entries hold group positions; 16-bit entries (0xFFFF empty) share
// words two by two.
KVN_FN u32 lzTableGet(u32 h) {
    if (lz_hash16 == 0u) return table.data[lz_region + h];
    u32 e = (table.data[lz_region + (h >> 1u)] >> ((h & 1u) * 16u)) & 0xFFFFu;
    return e == 0xFFFFu ? kLzEmpty : e;
}

// Writes pos at hash h from the lanes where `mine` holds (at most one lane
// per hash). 16-bit entries are changed with atomics, as two lanes may write
// the two halves of one word.
KVN_FN void lzTableWrite(bool mine, u32 h, u32 pos) {
    if (mine) {
        if (lz_hash16 == 0u) {
            table.data[lz_region + h] = pos;
        } else {
            u32 shift = (h & 1u) * 16u;
            u32 at = lz_region + (h >> 1u);
            kvnAtomicAnd(table.data[at], ~(0xFFFFu << shift));
            kvnAtomicOr(table.data[at], (pos & 0xFFFFu) << shift);
        }
    }
    // Read after the barrier of a later collective (the next scan step's
    // match at the latest).
    kvnMemoryFence();
}

// The lanes where `writes` holds enter pos into the table; of lanes sharing
// a hash the highest writes.
KVN_FN void lzInsert(bool writes, u32 h, u32 pos) {
    u32 same = lzSameHashLanes(writes, h);
    lzTableWrite(writes && (same & lzLanesAbove()) == 0u, h, pos);
}

// The dictionary's four bytes at pos (0 past its end).
KVN_FN u32 lzDictWordIn(u32 pos) {
    u32 w = 0u;
    if (pos < dict_len) w = u32(dict.data[pos]);
    if (pos + 1u < dict_len) w |= u32(dict.data[pos + 1u]) << 8u;
    if (pos + 2u < dict_len) w |= u32(dict.data[pos + 2u]) << 16u;
    if (pos + 3u < dict_len) w |= u32(dict.data[pos + 3u]) << 24u;
    return w;
}

// The four bytes at pos of the group or the dictionary, where pos may lie up
// to 3 bytes before 0 (those bytes read as 0).
KVN_FN u32 lzSourceWord(bool in_dict, u32 pos) {
    u32 under = pos > 0x7FFFFFFFu ? 0u - pos : 0u;
    u32 at = under > 0u ? 0u : pos;
    u32 w = in_dict ? lzDictWordIn(at) : lzWord(at);
    return under == 0u ? w : (under < 4u ? w << (8u * under) : 0u);
}

// The first unequal pair of a match extension, for the forward and the
// backward direction at once, by atomic minimum in three rotating pairs of
// words: a pair is read after the step's barrier and set back to "none" two
// steps later, after the next step's barrier, before its next use.
KVN_CONST u32 kLzNone = 0xFFFFFFFFu;
KVN_CONST u32 kLzForwardLanes = 24u;
u32 lz_ext_turn;

KVN_FN void lzExtendInit() {
    if (kvnLane() < 6u) lz_first[kvnLane()] = kLzNone;
    lz_ext_turn = 0u;
    kvnWarpSync();
}

// One extension step: lanes 0-23 compare the pairs [done_f, done_f + 96)
// after lz_mstart/lz_msrc, lanes 24-31 the pairs [done_b, done_b + 32)
// before them, four to a lane; a pair at or past the direction's limit
// counts as unequal. Returns the first unequal pair of each direction
// (kLzNone where there is none) in first_f and first_b.
KVN_FN void lzExtendStep(u32 done_f, u32 limit_f, u32 done_b, u32 limit_b, KVN_OUT(u32) first_f,
                         KVN_OUT(u32) first_b) {
    u32 lane = kvnLane();
    bool fwd = lane < kLzForwardLanes;
    u32 base = fwd ? done_f + 4u * lane : done_b + 4u * (lane - kLzForwardLanes);
    u32 limit = fwd ? limit_f : limit_b;
    // Backward, pair k of the lane is the byte 3 - k of the words.
    u32 a = fwd ? lz_mstart + base : lz_mstart - base - 4u;
    u32 b = fwd ? lz_msrc + base : lz_msrc - base - 4u;
    u32 x = lzSourceWord(false, a) ^ lzSourceWord(lz_mdict, b);
    u32 k = x == 0u ? 4u : (fwd ? kvnCtz(x) : kvnClz(x)) >> 3u;
    u32 valid = limit > base ? kvnMin(limit - base, 4u) : 0u;
    k = kvnMin(k, valid);
    u32 t = lz_ext_turn;
    lz_ext_turn = t == 2u ? 0u : t + 1u;
    if (k < 4u) kvnAtomicMin(lz_first[2u * t + (fwd ? 0u : 1u)], base + k);
    kvnWarpSync();
    first_f = lz_first[2u * t];
    first_b = lz_first[2u * t + 1u];
    u32 old = t == 0u ? 2u : t - 1u;
    if (lane < 2u) lz_first[2u * old + lane] = kLzNone;
}

// The pending match positions not entered yet.
KVN_FN u32 lzPendingCount() {
    u32 all = lz_pend_match > 1u ? 32u - kvnClz(lz_pend_match - 1u) : 0u;
    return all > lz_pend_k ? all - lz_pend_k : 0u;
}

// Pending match position i (0 past 2^31: none).
KVN_FN u32 lzPendingAhead(u32 i) { return kvnShiftLeft(1u, lz_pend_k + i); }

// The lanes of a mask in rank order: lane l goes to bit (l + 32 - width) & 31.
KVN_FN u32 lzRanked(u32 lanes, u32 width) { return width == 0u ? lanes : (lanes << (32u - width)) | (lanes >> width); }

// One scan step at lz_cur over [lz_cur, end): enters the positions it moves
// past into the table and either advances lz_cur (false) or picks the match
// candidate lz_mstart/lz_msrc/lz_mverified/lz_mdict (true). The lanes from
// `width` up enter the pending positions of the last match first (a step
// with width 0 only enters them and leaves lz_cur): they rank below the
// scanning lanes, as the table would have them before this step.
KVN_FN bool lzScanStep(u32 end, bool dict_ok, u32 floor) {
    u32 lane = kvnLane();
    u32 width = insert_in_matches == 0u ? 27u : (lzPendingCount() > 8u ? 0u : 24u);
    u32 left = end - lz_cur;
    u32 lanes_on = left >= 8u ? kvnMin(left - 7u, width) : 0u;
    u32 ahead = lzPendingAhead(lane - width);
    bool scans = lane < width;
    u32 p = scans ? lz_cur + lane : lz_pend_start + ahead;
    bool act = lane < lanes_on;
    bool enters = !scans && ahead != 0u && ahead < lz_pend_match && p + 8u <= lz_glen;
    u32 w4 = lzWord(p);
    u32 h = lzHashOf(w4, p);
    // The lanes with this lane's hash; the nearest one below in rank is the
    // same-step candidate.
    u32 same_hash = lzSameHashLanes(act || enters, h);
    u32 rank = (lane + 32u - width) & 31u;
    u32 below = lzRanked(same_hash, width) & ((1u << rank) - 1u);
    u32 same_rank = below != 0u ? 31u - kvnClz(below) : 32u;
    u32 same_lane = (same_rank + width) & 31u;
    u32 same_pos = same_lane < width ? lz_cur + same_lane : lz_pend_start + lzPendingAhead(same_lane - width);
    lz_pend_k += 32u - width;
    bool has = false;
    bool in_dict = false;
    u32 csrc = 0u;
    u32 verified = 4u;
    if (act) {
        if (same_rank < 32u) {
            u32 q = same_pos;
            if (lzWord(q) == w4 && p - q >= floor) {
                has = true;
                csrc = q;
            }
        } else {
            u32 t = lzTableGet(h);
            if (t != kLzEmpty && t < p && t >= lz_lowest && p - t >= floor && lzWord(t) == w4) {
                has = true;
                csrc = t;
            }
        }
        u32 r = lz_recent;
        if (has) {
        } else if (r >= floor && p >= r && p + 1u - r >= lz_lowest && p + 4u <= end &&
                   (lzWord(p + 1u - r) & 0xFFFFFFu) == w4 >> 8u) {
            has = true;
            csrc = p + 1u - r;
            verified = 3u;
        } else if (floor <= 8u && p >= 8u && p - 8u >= lz_lowest && lzWord(p - 8u) == w4) {
            has = true;
            csrc = p - 8u;
        } else if (dict_ok) {
            u32 e = dict_table.data[h];
            if (e != kLzEmpty && p + dict_len - e <= 0xFFFFu && lzDictWord(e) == w4) {
                has = true;
                in_dict = true;
                csrc = e;
            }
        }
    }

    // Scanning lanes up to the winner enter their positions, or without a
    // candidate every active one, after the pending ones; of those sharing a
    // hash the highest in rank.
    u32 mask = kvnBallot(has);
    u32 winner = kvnCtz(mask);
    u32 writers = mask == 0u ? kvnShiftLeft(1u, lanes_on) - 1u : (2u << winner) - 1u;
    writers |= ~(kvnShiftLeft(1u, width) - 1u);
    bool writes = scans ? ((writers >> lane) & 1u) != 0u : enters;
    u32 above = ~((2u << rank) - 1u);
    lzTableWrite(writes && (lzRanked(same_hash & writers, width) & above) == 0u, h, p);
    if (width == 0u) return false;
    if (mask == 0u) {
        // No active lane: fewer than 8 bytes are left, none can match.
        lz_cur = lanes_on > 0u ? lz_cur + lanes_on : end;
        return false;
    }
    // The winner's source (below 2^30) and kind in the top two bits (0 table
    // or same step or distance 8, 1 recent offset from the next position, 2
    // dictionary); the earlier readers of lz_pick read it before this step's
    // match collective.
    if (lane == winner) lz_pick[0] = csrc | ((in_dict ? 2u : (verified == 3u ? 1u : 0u)) << 30u);
    kvnWarpSync();
    u32 pick = lz_pick[0];
    u32 kind = pick >> 30u;
    lz_mstart = lz_cur + winner + (kind == 1u ? 1u : 0u);
    lz_msrc = pick & 0x3FFFFFFFu;
    lz_mverified = kind == 1u ? 3u : 4u;
    lz_mdict = kind == 2u;
    return true;
}

// Parses [lz_cur, end) of the half starting at half_start (phases as in
// lz_encode_common.h; an extension step reaches 96 bytes forward and 32
// backward).
KVN_FN void lzGreedyParseHalf(u32 half_start, u32 end, bool dict_ok, bool second_half) {
    u32 lane = kvnLane();
    // Off32 values above the 3-byte range have a form no decoder reads, so
    // sources further back than that from the half's start are not taken.
    u32 far_floor = half_start > KVN_OFF32_SHORT_MAX ? half_start - KVN_OFF32_SHORT_MAX : 0u;
    lz_lowest = kvnMax(lz_sub_lowest, far_floor);
    u32 floor = min_dist;
    lz_pend_match = 0u;
    lz_pend_k = 0u;
    u32 phase = kLzScan;
    u32 done = 0u;  // literals copied
    u32 done_f = 0u;  // pairs compared forward and backward
    u32 done_b = 0u;
    u32 forward = kLzNone;
    u32 back = kLzNone;
    while (phase != kLzScan || lz_cur + 4u <= end) {
        if (phase == kLzScan) {
            if (!lzScanStep(end, dict_ok, floor)) continue;
            phase = kLzExtend;
            done_f = lz_mverified;
            done_b = 0u;
            forward = kLzNone;
            back = kLzNone;
        }
        u32 dist = lz_mdict ? lz_mstart + dict_len - lz_msrc : lz_mstart - lz_msrc;
        if (phase == kLzExtend) {
            u32 limit_f = end - lz_mstart;
            if (lz_mdict) limit_f = kvnMin(limit_f, dict_len - lz_msrc);
            u32 src_floor = lz_mdict ? 0u : lz_lowest;
            u32 limit_b = kvnMin(lz_mstart - lz_anchor, lz_msrc - src_floor);
            u32 first_f = kLzNone;
            u32 first_b = kLzNone;
            lzExtendStep(done_f, limit_f, done_b, limit_b, first_f, first_b);
            if (forward == kLzNone) {
                forward = first_f;
                done_f += 4u * kLzForwardLanes;
            }
            if (back == kLzNone) {
                back = first_b;
                done_b += 4u * (32u - kLzForwardLanes);
            }
            if (forward == kLzNone || back == kLzNone) continue;
            if (dist > 0xFFFFu && forward < 14u) {
                lz_cur = lz_mstart + 1u;  // far matches need 14 bytes
                phase = kLzScan;
                continue;
            }
            phase = kLzLiterals;
            done = 0u;
        }
        u32 start = lz_mstart - back;
        u32 lits = start - lz_anchor;
        lzCopyLiteralBlock(lits, done);
        done += 32u;
        if (done < lits) continue;
        lzw_nl += lits;
        u32 match = back + forward;
        lzwSequence(lits, match, dist, dist == lz_recent, half_start - (start - dist), second_half);
        if (insert_in_matches != 0u) {
            // Entered by the next scan step (or the flush below).
            lz_pend_start = start;
            lz_pend_match = match;
            lz_pend_k = 0u;
        }
        lz_recent = dist;
        lz_anchor = start + match;
        lz_cur = lz_anchor;
        phase = kLzScan;
    }
    if (phase != kLzScan || lz_cur + 4u <= end) lz_cut = true;
    // The last match's positions that no scan step entered (at most 17).
    u32 ahead = lzPendingAhead(lane);
    u32 pos = lz_pend_start + ahead;
    lzInsert(ahead != 0u && ahead < lz_pend_match && pos + 8u <= lz_glen, lzHashOf(lzWord(pos), pos), pos);
    lz_pend_match = 0u;
    lzWriteTail(end);
}
