// The greedy parse of the LZ encode kernels (lz_encode_kernel.comp, mode 0).
// Included inside each entry after lz_encode_common.h (no include guard:
// every entry takes its own copy).
//
// A warp parses one group at a time. Each scan step looks at up to 27
// consecutive positions, one per lane; the lowest lane with a candidate wins
// (same-step repeat, table, recent offset, distance 8, dictionary, in that
// order), the match is extended 32 bytes at a time in both directions, and
// the sequence goes to the stream writer. Every value that decides control
// flow is the same in all lanes, so the collectives are always reached by the
// whole warp.
//
// A step without any candidate moves past all the positions it examined. The
// one-position-at-a-time parse would advance by 1 to 16 positions and look at
// the rest again, but a position's candidate depends only on the positions
// entered before it, and every position the parse passes over is entered
// either way; so the streams are the same, with up to 27 times fewer steps
// through literal stretches.

// Table entries hold group positions; 16-bit entries (0xFFFF empty) share
// words two by two.
KVN_FN u32 lzTableGet(u32 h) {
    if (lz_hash16 == 0u) return table.data[lz_region + h];
    u32 e = (table.data[lz_region + (h >> 1u)] >> ((h & 1u) * 16u)) & 0xFFFFu;
    return e == 0xFFFFu ? kLzEmpty : e;
}

KVN_FN void lzTablePut(u32 h, u32 pos) {
    if (lz_hash16 == 0u) {
        table.data[lz_region + h] = pos;
        return;
    }
    u32 shift = (h & 1u) * 16u;
    u32 at = lz_region + (h >> 1u);
    table.data[at] = (table.data[at] & ~(0xFFFFu << shift)) | ((pos & 0xFFFFu) << shift);
}

// The flagged lanes enter pos into the table; of lanes sharing a hash the
// highest writes. 16-bit entries are written in two rounds, even hashes
// first, so that no two lanes change one word at once.
KVN_FN void lzInsert(bool writes, u32 h, u32 pos) {
    lzPublish(h, writes);
    bool mine = writes && !lzHigherSameHash(kvnLane(), h);
    if (lz_hash16 != 0u) {
        if (mine && (h & 1u) == 0u) lzTablePut(h, pos);
        kvnMemoryFence();
        kvnWarpSync();
        mine = mine && (h & 1u) != 0u;
    }
    if (mine) lzTablePut(h, pos);
    kvnMemoryFence();
    kvnWarpSync();
}

// One scan step at lz_cur over [lz_cur, end): enters the positions it moves
// past into the table and either advances lz_cur (false) or picks the match
// candidate lz_mstart/lz_msrc/lz_mverified/lz_mdict (true).
KVN_FN bool lzScanStep(u32 end, bool dict_ok, u32 floor) {
    u32 lane = kvnLane();
    u32 left = end - lz_cur;
    u32 lanes_on = left > 33u ? 27u : (left >= 8u ? left - 7u : 0u);
    u32 p = lz_cur + lane;
    bool act = lane < lanes_on;
    u32 w4 = lzWord(p);
    u32 h = lzHashOf(w4, p);
    lzPublish(h, act);
    u32 same = lzLowerSameHash(lane, h);
    kvnWarpSync();

    bool has = false;
    bool in_dict = false;
    u32 cstart = p;
    u32 csrc = 0u;
    u32 verified = 4u;
    if (act) {
        if (same < 32u) {
            u32 q = lz_cur + same;
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
                   lzByte(p + 1u) == lzByte(p + 1u - r) && lzByte(p + 2u) == lzByte(p + 2u - r) &&
                   lzByte(p + 3u) == lzByte(p + 3u - r)) {
            has = true;
            cstart = p + 1u;
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

    // Lanes up to the winner enter their positions, or without a
    // candidate every active lane (one call site keeps the unrolled
    // lookup once in the module).
    u32 mask = kvnBallot(has);
    u32 winner = kvnCtz(mask);
    lzInsert(mask == 0u ? act : lane <= winner, h, p);
    if (mask == 0u) {
        // No active lane: fewer than 8 bytes are left, none can match.
        lz_cur = lanes_on > 0u ? lz_cur + lanes_on : end;
        return false;
    }
    if (lane == winner) {
        lz_pick[0] = cstart;
        lz_pick[1] = csrc;
        lz_pick[2] = verified;
        lz_pick[3] = in_dict ? 1u : 0u;
    }
    kvnWarpSync();
    lz_mstart = lz_pick[0];
    lz_msrc = lz_pick[1];
    lz_mverified = lz_pick[2];
    lz_mdict = lz_pick[3] != 0u;
    kvnWarpSync();
    return true;
}

// Parses [lz_cur, end) of the half starting at half_start.
KVN_FN void lzGreedyParseHalf(u32 half_start, u32 end, bool dict_ok, bool second_half) {
    u32 lane = kvnLane();
    // Off32 values above the 3-byte range have a form no decoder reads, so
    // sources further back than that from the half's start are not taken.
    u32 far_floor = half_start > KVN_OFF32_SHORT_MAX ? half_start - KVN_OFF32_SHORT_MAX : 0u;
    lz_lowest = kvnMax(lz_sub_lowest, far_floor);
    u32 floor = min_dist;
    u32 phase = kLzScan;
    u32 done = 0u;  // pairs compared or literals copied in the current phase
    u32 forward = 0u;
    u32 back = 0u;
    while (phase != kLzScan || lz_cur + 4u <= end) {
        if (phase == kLzScan) {
            if (!lzScanStep(end, dict_ok, floor)) continue;
            phase = kLzForward;
            done = lz_mverified;
        }
        u32 dist = lz_mdict ? lz_mstart + dict_len - lz_msrc : lz_mstart - lz_msrc;
        if (phase == kLzForward) {
            u32 limit = end - lz_mstart;
            if (lz_mdict) limit = kvnMin(limit, dict_len - lz_msrc);
            u32 m = lzDifferMask(lz_mstart, lz_msrc, lz_mdict, done, limit, false);
            if (m == 0u) {
                done += 32u;
                continue;
            }
            forward = done + kvnCtz(m);
            if (dist > 0xFFFFu && forward < 14u) {
                lz_cur = lz_mstart + 1u;  // far matches need 14 bytes
                phase = kLzScan;
                continue;
            }
            phase = kLzBackward;
            done = 0u;
        }
        if (phase == kLzBackward) {
            u32 src_floor = lz_mdict ? 0u : lz_lowest;
            u32 limit = kvnMin(lz_mstart - lz_anchor, lz_msrc - src_floor);
            u32 m = lzDifferMask(lz_mstart, lz_msrc, lz_mdict, done, limit, true);
            if (m == 0u) {
                done += 32u;
                continue;
            }
            back = done + kvnCtz(m);
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
            u32 ahead = kvnShiftLeft(1u, lane);
            u32 pos = start + ahead;
            lzInsert(ahead < match && pos + 8u <= lz_glen, lzHashOf(lzWord(pos), pos), pos);
        }
        lz_recent = dist;
        lz_anchor = start + match;
        lz_cur = lz_anchor;
        phase = kLzScan;
    }
    if (phase != kLzScan || lz_cur + 4u <= end) lz_cut = true;
    lzWriteTail(end);
}

