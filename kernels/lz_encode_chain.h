// The chain parse of the LZ encode kernels (lz_encode_kernel.comp, mode 1):
// level 5's parse. Included inside each entry after lz_encode_common.h (no
// include guard: every entry takes its own copy).
//
// Every position is looked up in a workspace of three parts: head table A
// (the latest position with the same 4-byte hash), head table B (the latest
// position with the same 8-byte hash, with a 6-bit tag of that hash) and
// u16 chain links (per position mod 65,536, the previous position with its
// 4-byte hash). A search at x tries the recent offset, up to 8 chain
// candidates, head B and distance 8, each measured up to kLzcProbe bytes;
// the best becomes x's match (lengths 2 and 3 only from the recent offset).
// Distances stay within 8 .. 65,535, so no off32 entry is ever written.
//
// One scan step searches 32 consecutive positions at once, one per lane:
// lane k sees the positions of lanes below it as if entered one at a time
// (its chain starts at the nearest lower lane with its hash, whose link is
// the next lower one or the table's head). The lowest lane with a match
// wins; lazy evaluation then moves to the next position while that one's
// match scores better, or to the one after it when that scores clearly
// better: a relation of neighbouring lanes, followed by pointer jumping
// rather than a loop. Every position up to the chosen one is entered; the
// positions inside the match are entered after it, 32 per pass.
//
// A literal run of 8 to 63 bytes before a match is written split at bytes
// that repeat from the recent offset (lz_literal_split.h).

#include "kernels/lz_literal_split.h"

KVN_CONST u32 kLzcChainWords = 32768u;  // 65,536 u16 links
KVN_CONST u32 kLzcWindow = 0xFFFFu;
KVN_CONST u32 kLzcProbe = 16u;          // bytes a search measures; the chosen match is extended further
KVN_CONST u32 kLzcLongRun = 63u;        // literal runs above this ask one byte more of a match
KVN_CONST u32 kLzcNone = 0u;
KVN_CONST u32 kLzcNew = 1u;
KVN_CONST u32 kLzcRecent = 2u;
KVN_CONST u32 kLzcDict = 3u;

KVN_FN u32 lzcWorkspaceWords() { return (2u << hash_bits) + kLzcChainWords; }
KVN_FN u32 lzcHeadBAt(u32 h) { return lz_region + (1u << hash_bits) + h; }
KVN_FN u32 lzcLinkAt(u32 pos) { return lz_region + (2u << hash_bits) + ((pos & 0xFFFFu) >> 1u); }
KVN_FN u32 lzcLink(u32 pos) { return (table.data[lzcLinkAt(pos)] >> ((pos & 1u) * 16u)) & 0xFFFFu; }

KVN_FN u32 lzcHashA(u32 word) { return (word * 0xB7A56463u) >> (32u - hash_bits); }

// The high word of the 8 bytes at pos (little-endian) times the golden ratio:
// its top bits index head table B, its low 6 bits are the tag.
KVN_FN u32 lzcHash8(u32 pos, u32 word) {
    u64 v = u64(word) | (u64(lzWord(pos + 4u)) << 32u);
    u64 golden = (u64(0x9E3779B9u) << 32u) | u64(0x7F4A7C15u);
    return u32((v * golden) >> 32u);
}

KVN_FN u32 lzcDictByte(u32 pos) { return pos < dict_len ? u32(dict.data[pos]) : 0u; }

KVN_FN u32 lzcSourceWord(bool in_dict, u32 pos) {
    if (!in_dict) return lzWord(pos);
    return lzcDictByte(pos) | (lzcDictByte(pos + 1u) << 8u) | (lzcDictByte(pos + 2u) << 16u) |
           (lzcDictByte(pos + 3u) << 24u);
}

// Equal bytes at x and at the source c, counted up to min(limit, kLzcProbe).
#define KVN_LZC_PROBE_WORD                                                \
    if (open && len < cap) {                                              \
        u32 diff = lzWord(x + len) ^ lzcSourceWord(in_dict, c + len);     \
        if (diff != 0u) {                                                 \
            len += kvnCtz(diff) >> 3u;                                    \
            open = false;                                                 \
        } else {                                                          \
            len += 4u;                                                    \
        }                                                                 \
    }
KVN_FN u32 lzcProbe(u32 x, u32 c, bool in_dict, u32 limit) {
    u32 cap = kvnMin(limit, kLzcProbe);
    u32 len = 0u;
    bool open = true;
    KVN_LZC_PROBE_WORD KVN_LZC_PROBE_WORD KVN_LZC_PROBE_WORD KVN_LZC_PROBE_WORD
    return kvnMin(len, cap);
}

// The search's result at this lane's position.
u32 lzc_len, lzc_kind, lzc_src;

// One chain hop: measure the candidate (distances below 9 are left to the
// distance-8 rule), then follow its link while the distance grows.
#define KVN_LZC_HOP                                                            \
    if (walking) {                                                             \
        u32 d = x - cand;                                                      \
        if (d >= 9u && cand >= lz_lowest) {                                    \
            u32 l = lzcProbe(x, cand, false, limit);                           \
            if (l >= min_len && l > best) {                                    \
                best = l;                                                      \
                best_d = d;                                                    \
            }                                                                  \
        }                                                                      \
        u32 link = cand >= lz_cur ? lzc_link[cand - lz_cur] : lzcLink(cand);   \
        u32 nd = (x - link) & 0xFFFFu;                                         \
        walking = nd > d && nd <= x;                                           \
        cand = x - nd;                                                         \
    }

// Search at x: `head` starts the chain, `head_b` is head table B's entry
// as x sees it, `tag` x's 8-byte tag, `word` the 4 bytes at x.
KVN_FN void lzcSearch(u32 x, u32 end, u32 head, u32 head_b, u32 tag, u32 word, bool dict_ok) {
    u32 run = x - lz_anchor;
    u32 min_len = run > kLzcLongRun ? 5u : 4u;
    u32 limit = end - x;
    u32 r = lz_recent;
    u32 rlen = 0u;
    if (x >= r && x - r >= lz_lowest) rlen = lzcProbe(x, x - r, false, limit);
    lzc_len = 0u;
    lzc_kind = kLzcNone;
    lzc_src = 0u;
    if (rlen >= 4u) {
        // The recent offset's match is taken as it is.
        lzc_len = rlen;
        lzc_kind = kLzcRecent;
        lzc_src = x - r;
        return;
    }
    if (run > kLzcLongRun && rlen < 3u) rlen = 0u;

    u32 best = 0u;
    u32 best_d = 0u;
    u32 cand = head;
    bool walking = cand < x && x - cand <= kLzcWindow;
    KVN_LZC_HOP KVN_LZC_HOP KVN_LZC_HOP KVN_LZC_HOP KVN_LZC_HOP KVN_LZC_HOP KVN_LZC_HOP KVN_LZC_HOP

    u32 cb = head_b >> 6u;
    if ((head_b & 63u) == tag && cb < x && x - cb >= 8u && x - cb <= kLzcWindow && cb >= lz_lowest) {
        u32 l = lzcProbe(x, cb, false, limit);
        if (l >= min_len && (l > best || (l == best && x - cb < best_d))) {
            best = l;
            best_d = x - cb;
        }
    }
    if (x >= 8u && x - 8u >= lz_lowest) {
        u32 l = lzcProbe(x, x - 8u, false, limit);
        if (l >= min_len && l >= best) {
            best = l;
            best_d = 8u;
        }
    }

    if (best > 0u && (rlen < 2u || rlen + 1u < best)) {
        lzc_len = best;
        lzc_kind = kLzcNew;
        lzc_src = x - best_d;
    } else if (rlen >= 2u) {
        lzc_len = rlen;
        lzc_kind = kLzcRecent;
        lzc_src = x - r;
    } else if (dict_ok) {
        u32 e = dict_table.data[lzHashOf(word, x)];
        if (e != kLzEmpty && e < dict_len && dict_len - e + x <= kLzcWindow) {
            u32 l = lzcProbe(x, e, true, kvnMin(limit, dict_len - e));
            if (l >= min_len) {
                lzc_len = l;
                lzc_kind = kLzcDict;
                lzc_src = e;
            }
        }
    }
}

// Lazy score of moving from a match (len0, kind0) to (len1, kind1): 5 per
// byte gained, a new offset costs 16 and leaving one saves 11; leaving a
// recent match costs 5.
KVN_FN i32 lzcLazyScore(u32 len0, u32 kind0, u32 len1, u32 kind1) {
    i32 c0 = kind0 == kLzcRecent ? -5 : 11;
    i32 c1 = kind1 == kLzcRecent ? 0 : 16;
    return 5 * (i32(len1) - i32(len0)) + c0 - c1;
}

// Enters the flagged lanes' positions into head table A and the chain, each
// linked to `link`; of lanes sharing a hash the highest writes the head. The
// u16 links go in two rounds, even positions first, so that no two lanes
// change one word at once (the positions are consecutive).
KVN_FN void lzcPutA(bool on, u32 pos, u32 ha, u32 link) {
    u32 same = lzSameHashLanes(on, ha);
    bool head = on && (same & lzLanesAbove()) == 0u;
    u32 at = lzcLinkAt(pos);
    u32 shift = (pos & 1u) * 16u;
    u32 value = (link & 0xFFFFu) << shift;
    if (on && (pos & 1u) == 0u) table.data[at] = (table.data[at] & ~(0xFFFFu << shift)) | value;
    kvnMemoryFence();
    kvnWarpSync();
    if (on && (pos & 1u) != 0u) table.data[at] = (table.data[at] & ~(0xFFFFu << shift)) | value;
    if (head) table.data[lz_region + ha] = pos;
    kvnMemoryFence();
    kvnWarpSync();
}

// Enters the flagged lanes' positions into head table B (highest lane wins).
KVN_FN void lzcPutB(bool on, u32 pos, u32 h8) {
    u32 hb = h8 >> (32u - hash_bits);
    u32 same = lzSameHashLanes(on, hb);
    bool head = on && (same & lzLanesAbove()) == 0u;
    kvnWarpSync();
    if (head) table.data[lzcHeadBAt(hb)] = (pos << 6u) | (h8 & 63u);
    kvnMemoryFence();
    kvnWarpSync();
}

// One scan step at lz_cur (lz_cur + 8 <= end): enters the positions it moves
// past and either advances lz_cur (false) or picks the match at lz_mstart
// with source lz_msrc, measured length lz_mverified and lz_mdict (true).
KVN_FN bool lzcScanStep(u32 end, bool dict_ok) {
    u32 lane = kvnLane();
    u32 lanes_on = kvnMin(32u, end - lz_cur - 7u);
    u32 x = lz_cur + lane;
    bool act = lane < lanes_on;
    u32 word = lzWord(x);
    u32 ha = lzcHashA(word);
    u32 h8 = lzcHash8(x, word);
    u32 hb = h8 >> (32u - hash_bits);
    u32 lower_a = lzNearestBelow(lzSameHashLanes(act, ha));
    u32 lower_b = lzNearestBelow(lzSameHashLanes(act, hb));
    u32 head = lower_a < 32u ? lz_cur + lower_a : table.data[lz_region + ha];
    lzc_link[lane] = head;
    lzc_tag[lane] = h8 & 63u;
    kvnWarpSync();
    u32 head_b = lower_b < 32u ? (((lz_cur + lower_b) << 6u) | lzc_tag[lower_b]) : table.data[lzcHeadBAt(hb)];

    lzc_len = 0u;
    lzc_kind = kLzcNone;
    lzc_src = 0u;
    if (act) lzcSearch(x, end, head, head_b, h8 & 63u, word, dict_ok);
    lzc_lens[lane] = lzc_len;
    lzc_kinds[lane] = lzc_kind;
    lzc_srcs[lane] = lzc_src;
    kvnWarpSync();

    // Where lazy evaluation goes from this lane's match: the next position
    // when its match scores better, else the one after when it scores
    // clearly better (never from a 2-byte match), else nowhere.
    u32 next = lane;
    if (lzc_len >= 2u) {
        if (lane + 1u < lanes_on && x + 6u < end && lzc_lens[lane + 1u] >= 2u &&
            lzcLazyScore(lzc_len, lzc_kind, lzc_lens[lane + 1u], lzc_kinds[lane + 1u]) > 0) {
            next = lane + 1u;
        } else if (lane + 2u < lanes_on && x + 7u < end && lzc_len != 2u && lzc_lens[lane + 2u] >= 2u &&
                   lzcLazyScore(lzc_len, lzc_kind, lzc_lens[lane + 2u], lzc_kinds[lane + 2u]) >= 5) {
            next = lane + 2u;
        }
    }
    // Pointer jumping: after five rounds every lane holds the end of its
    // path (at most 31 moves).
#define KVN_LZC_JUMP          \
    lzc_next[lane] = next;    \
    kvnWarpSync();            \
    next = lzc_next[next];    \
    kvnWarpSync();
    KVN_LZC_JUMP KVN_LZC_JUMP KVN_LZC_JUMP KVN_LZC_JUMP KVN_LZC_JUMP
    lzc_next[lane] = next;
    kvnWarpSync();

    u32 mask = kvnBallot(act && lzc_len >= 2u);
    u32 chosen = mask != 0u ? lzc_next[kvnCtz(mask)] : 32u;
    bool enter = act && lane <= chosen;
    lzcPutA(enter, x, ha, head);
    lzcPutB(enter, x, h8);
    if (mask == 0u) {
        lz_cur += lanes_on;
        return false;
    }
    lz_mstart = lz_cur + chosen;
    lz_msrc = lzc_srcs[chosen];
    lz_mverified = lzc_lens[chosen];
    lz_mdict = lzc_kinds[chosen] == kLzcDict;
    kvnWarpSync();
    return true;
}

// Enters the positions [from + at, from + at + 32) below `to` into head table
// A and the chain.
KVN_FN void lzcEnterBlock(u32 from, u32 at, u32 to) {
    u32 lane = kvnLane();
    u32 y = from + at + lane;
    bool on = y < to;
    u32 ha = lzcHashA(lzWord(y));
    u32 old = table.data[lz_region + ha];
    u32 lower = lzNearestBelow(lzSameHashLanes(on, ha));
    lzcPutA(on, y, ha, lower < 32u ? y - (lane - lower) : old);
}

// Whether run offset k of the literal run at lz_anchor repeats from the
// recent offset (a byte a decoder can take from there).
KVN_FN bool lzcRepeats(u32 k, u32 len) {
    u32 pos = lz_anchor + k;
    u32 r = lz_recent;
    return k >= 1u && k < len && pos >= r && pos - r >= lz_lowest && lzByte(pos) == lzByte(pos - r);
}

KVN_FN void lzcSplitLiteral(u32 k, u32 len, u64 written) {
    if (k < len && ((written >> k) & u64(1)) == u64(0))
        lz_out[lzw_lit + lzw_nl + k - lzPopcount64(written & lzBelow64(k))] = u8(u32(src[lz_gbase + lz_anchor + k]));
}

KVN_FN void lzcSplitTokenAt(u32 k, u32 token, u64 ends) {
    if (token != 0u) lz_out[lzw_tok + lzw_nt + lzPopcount64(ends & lzBelow64(k))] = u8(token);
}

// Writes a literal run of at most 63 bytes from lz_anchor: its literals and,
// when it splits, the tokens of its written pieces. Returns the literals
// left for the match's own sequence. Two run offsets per lane.
KVN_FN u32 lzcWriteShortRun(u32 len) {
    u32 lane = kvnLane();
    u32 k0 = lane;
    u32 k1 = lane + 32u;
    u64 repeats = u64(kvnBallot(lzcRepeats(k0, len))) | (u64(kvnBallot(lzcRepeats(k1, len))) << 32u);
    u64 written = lzSplitRun(len, repeats);
    u32 t0 = k0 < len ? lzSplitToken(k0, written) : 0u;
    u32 t1 = k1 < len ? lzSplitToken(k1, written) : 0u;
    u64 ends = u64(kvnBallot(t0 != 0u)) | (u64(kvnBallot(t1 != 0u)) << 32u);
    lzcSplitTokenAt(k0, t0, ends);
    lzcSplitTokenAt(k1, t1, ends);
    lzw_nt += lzPopcount64(ends);
    lzcSplitLiteral(k0, len, written);
    lzcSplitLiteral(k1, len, written);
    lzw_nl += len - lzPopcount64(written);
    return lzSplitLastLiterals(len, written);
}

// Parses [lz_cur, end) of a half.
KVN_FN void lzChainParseHalf(u32 end, bool dict_ok) {
    u32 lane = kvnLane();
    lz_lowest = lz_sub_lowest;
    u32 phase = kLzScan;
    u32 done = 0u;  // pairs compared, literals copied or positions entered in the current phase
    u32 forward = 0u;
    u32 back = 0u;
    bool extend = false;
    u32 enter_from = 0u;
    u32 enter_to = 0u;
    while (phase != kLzScan || lz_cur + 8u <= end) {
        if (phase == kLzScan) {
            if (!lzcScanStep(end, dict_ok)) continue;
            phase = kLzForward;
            done = lz_mverified;
            // Only a measurement that reached the probe's length may go on.
            extend = lz_mverified == kLzcProbe;
        }
        u32 dist = lz_mdict ? lz_mstart + dict_len - lz_msrc : lz_mstart - lz_msrc;
        if (phase == kLzForward) {
            if (extend) {
                u32 limit = end - lz_mstart;
                if (lz_mdict) limit = kvnMin(limit, dict_len - lz_msrc);
                if (!lzMeasureStep(lz_mstart, lz_msrc, lz_mdict, limit, false, done)) continue;
            }
            forward = done;
            phase = kLzBackward;
            done = 0u;
        }
        if (phase == kLzBackward) {
            u32 src_floor = lz_mdict ? 0u : lz_lowest;
            u32 limit = kvnMin(lz_mstart - lz_anchor, lz_msrc - src_floor);
            if (!lzMeasureStep(lz_mstart, lz_msrc, lz_mdict, limit, true, done)) continue;
            back = done;
            phase = kLzLiterals;
            done = 0u;
        }
        if (phase == kLzLiterals) {
            u32 start = lz_mstart - back;
            u32 lits = start - lz_anchor;
            u32 last_lits = lits;
            if (lits > kLzSplitLongest) {
                lzCopyLiteralBlock(lits, done);
                done += 32u;
                if (done < lits) continue;
                lzw_nl += lits;
            } else {
                last_lits = lzcWriteShortRun(lits);
            }
            u32 match = back + forward;
            lzwSequence(last_lits, match, dist, dist == lz_recent, 0u, false);
            lz_recent = dist;
            lz_anchor = start + match;
            lz_cur = lz_anchor;
            // The positions inside the match, when the bytes after it exist.
            bool inside = lz_anchor + 8u <= lz_glen;
            enter_from = lz_mstart + 1u;
            enter_to = inside ? lz_anchor : enter_from;
            u32 ahead = kvnShiftLeft(1u, lane);
            u32 y = lz_mstart + ahead;
            lzcPutB(inside && lane < 31u && y < lz_anchor, y, lzcHash8(y, lzWord(y)));
            phase = kLzInsert;
            done = 0u;
        }
        lzcEnterBlock(enter_from, done, enter_to);
        done += 32u;
        if (enter_from + done < enter_to) continue;
        phase = kLzScan;
    }
    if (phase != kLzScan || lz_cur + 8u <= end) lz_cut = true;
    lzWriteTail(end);
}
