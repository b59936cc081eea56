// The greedy parse of the LZ encode kernels (lz_encode_kernel.comp). Included
// inside each entry after kernel_begin.h (no include guard: every entry takes
// its own copy); the entry provides the parameters and `lz_hash16`.
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
// lavapipe ends an invocation's loops after 65,535 iterations in total, so a
// half is parsed in one loop without nested ones (see lzParseHalf); every
// data-dependent loop tests its exit condition again after it ends, and a
// loop cut short leaves the sub-chunk's LZ size at 0 (the host then stores
// the chunk raw): never a wrong stream.

#include "kernels/lz_stream_writer.h"

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
// Positions inside the last match still to enter the table (levels that
// enter them): lz_pend_start + 2^k for k from lz_pend_k while 2^k is below
// lz_pend_match.
u32 lz_pend_start, lz_pend_match, lz_pend_k;

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

KVN_FN u32 lzDictWord(u32 pos) {
    return u32(dict.data[pos]) | (u32(dict.data[pos + 1u]) << 8u) | (u32(dict.data[pos + 2u]) << 16u) |
           (u32(dict.data[pos + 3u]) << 24u);
}

// Hash of the six bytes at pos, given its first four as a word (little-endian
// 48-bit value).
KVN_FN u32 lzHashOf(u32 word, u32 pos) {
    u64 v = u64(word) | (u64(lzWord(pos + 4u) & 0xFFFFu) << 32u);
    u64 golden = (u64(0x9E3779B9u) << 32u) | u64(0x7F4A7C15u);
    return u32(((v << 16u) * golden) >> (64u - hash_bits));
}

KVN_CONST u32 kLzEmpty = 0xFFFFFFFFu;

// Table entries hold group positions; 16-bit entries (0xFFFF empty) share
// words two by two.
KVN_FN u32 lzTableGet(u32 h) {
    if (lz_hash16 == 0u) return table.data[lz_region + h];
    u32 e = (table.data[lz_region + (h >> 1u)] >> ((h & 1u) * 16u)) & 0xFFFFu;
    return e == 0xFFFFu ? kLzEmpty : e;
}

// What lanes without a position publish: no hash takes it (hash_bits < 32).
KVN_CONST u32 kLzNoHash = 0xFFFFFFFFu;

// Lanes above the caller's.
KVN_FN u32 lzLanesAbove() { return ~((2u << kvnLane()) - 1u); }

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
    u32 same = kvnMatchAny(writes ? h : kLzNoHash);
    lzTableWrite(writes && (same & lzLanesAbove()) == 0u, h, pos);
}

// Copies the literals [at, at + 32) of the run of `len` literals from
// lz_anchor to the literal stream.
KVN_FN void lzCopyLiteralBlock(u32 len, u32 at) {
    u32 i = at + kvnLane();
    if (i < len) lz_out[lzw_lit + lzw_nl + i] = u8(u32(src[lz_gbase + lz_anchor + i]));
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
    u32 same_hash = kvnMatchAny(act || enters ? h : kLzNoHash);
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

// A sequence is found and written in phases, all in the one parse loop:
// lavapipe charges every loop one iteration each time control reaches it,
// even where no lane runs it, so nested loops would cost a share of the
// budget on every scan step. Extending a match past a step's reach or
// copying literals past the first 32 bytes takes further passes.
KVN_CONST u32 kLzScan = 0u;
KVN_CONST u32 kLzExtend = 1u;
KVN_CONST u32 kLzLiterals = 2u;

// Parses [lz_cur, end) of the half starting at half_start.
KVN_FN void lzParseHalf(u32 half_start, u32 end, bool dict_ok, bool second_half) {
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
    // The literals after the last sequence.
    u32 tail = end - lz_anchor;
    done = 0u;
    while (done < tail) {
        lzCopyLiteralBlock(tail, done);
        done += 32u;
    }
    if (done < tail) lz_cut = true;
    lzw_nl += tail;
    lzwLiteralRun(tail);
    lz_anchor = end;
}

KVN_FN void lzParseSubChunk(u32 index, bool group_first) {
    u32 lane = kvnLane();
    u32 rec = index * KVN_COMPRESS_DESC_WORDS;
    u32 b = descs[rec + KVN_COMPRESS_W_SRC_OFF] - lz_gbase;
    u32 n = descs[rec + KVN_COMPRESS_W_LEN];
    u32 slot = descs[rec + KVN_COMPRESS_W_OUT_OFF];
    u32 prefix = descs[rec + KVN_COMPRESS_W_FIRST] != 0u ? kvnMin(KVN_FRAME_PREFIX_BYTES, n) : 0u;
    // A slot too small for the scratch areas (tiny sub-chunks) would spill
    // into the next one: such a sub-chunk gets the LZ size 0 instead.
    if (lzwSlotBytes(n) > descs[rec + KVN_COMPRESS_W_OUT_STRIDE]) {
        if (lane == 0u) lz_sizes[index] = 0u;
        return;
    }
    if (lane < prefix) lz_out[slot + lane] = u8(u32(src[lz_gbase + b + lane]));
    lzwBegin(slot, n, prefix);
    lz_cut = false;
    lz_anchor = b + prefix;
    lz_cur = lz_anchor;
    // A decoder reads the dictionary for every source before the sub-chunk,
    // so with a dictionary no other match may reach back past its start.
    lz_sub_lowest = dict_len > 0u ? b : 0u;
    lz_recent = KVN_INITIAL_REPEAT_DISTANCE;
    u32 first_end = b + kvnMin(n, KVN_HALF_SIZE);
    lzParseHalf(b, first_end, group_first && dict_len > 0u, false);
    u32 first_half_tokens = lzw_nt;
    if (n > KVN_HALF_SIZE) {
        lz_cur = kvnMax(lz_anchor, b + KVN_HALF_SIZE);
        lzParseHalf(b + KVN_HALF_SIZE, b + n, false, true);
    }
    u32 end = lzwFinish(slot, prefix, n, first_half_tokens);
    if (lane == 0u) lz_sizes[index] = lz_cut || lzw_cut ? 0u : end - slot;
}

KVN_FN void kvnMain() {
    u32 lane = kvnLane();
    u32 per = kvnMax(subs_per_group, 1u);
    u32 groups = (count + per - 1u) / per;
    u32 warp = kvnBlockIndex();
    u32 region_shift = lz_hash16 != 0u ? hash_bits - 1u : hash_bits;
    u32 words = 1u << region_shift;
    lz_region = warp << region_shift;
    lzExtendInit();
    u32 g = warp;
    while (g < groups) {
        u32 first = g * per;
        u32 last = kvnMin(first + per, count);
        lz_gbase = descs[first * KVN_COMPRESS_DESC_WORDS + KVN_COMPRESS_W_SRC_OFF];
        lz_glen = 0u;
        u32 s = first;
        while (s < last) {
            lz_glen += descs[s * KVN_COMPRESS_DESC_WORDS + KVN_COMPRESS_W_LEN];
            s += 1u;
        }
        lz_last_word = (lz_gbase + lz_glen + 4u) >> 2u;
        // Positions (of the group and the dictionary) are taken as below
        // 2^30: the winning lane passes its source in 30 bits.
        bool group_cut = s < last || lz_glen >= 0x40000000u || dict_len >= 0x40000000u;
        u32 j = lane;
        while (j < words) {
            table.data[lz_region + j] = kLzEmpty;
            j += 32u;
        }
        group_cut = group_cut || kvnBallot(j < words) != 0u;
        kvnMemoryFence();
        kvnWarpSync();
        // A short group length or a half-cleared table would mislead the
        // parse: the group's sub-chunks keep the LZ size 0 the host wrote.
        s = group_cut ? last : first;
        while (s < last) {
            lzParseSubChunk(s, s == first);
            s += 1u;
        }
        g += kvnGridBlocks();
    }
    // A loop cut short leaves LZ sizes unwritten (the host zeroes them).
}
