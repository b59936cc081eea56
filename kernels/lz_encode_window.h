// What every LZ encode parse shares around the stream writer: the group
// window's bytes, match comparison a warp at a time, literal copies, the
// tail of a half, and opening and closing a sub-chunk's output slot.
// Included inside a kernel entry after kernel_begin.h (no include guard:
// every entry takes its own copy); the entry provides `src`, `dict`,
// `descs`, `lz_out` and `lz_sizes`.

#include "kernels/lz_stream_writer.h"

// The group window (its first source byte and length), the anchor (the
// first byte not yet written) and whether a loop was cut short (lavapipe's
// loop budget): the same in all lanes.
u32 lz_gbase, lz_glen, lz_anchor;
bool lz_cut;

KVN_FN u32 lzByte(u32 pos) { return pos < lz_glen ? u32(src[lz_gbase + pos]) : 0u; }

KVN_FN u32 lzWord(u32 pos) {
    return lzByte(pos) | (lzByte(pos + 1u) << 8u) | (lzByte(pos + 2u) << 16u) | (lzByte(pos + 3u) << 24u);
}

// Byte `pos` of a match source: the dictionary or the group.
KVN_FN u32 lzSourceByte(bool in_dict, u32 pos) { return in_dict ? u32(dict.data[pos]) : lzByte(pos); }

// Copies the literals [at, at + 32) of the run of `len` literals from
// lz_anchor to the literal stream.
KVN_FN void lzCopyLiteralBlock(u32 len, u32 at) {
    u32 i = at + kvnLane();
    if (i < len) lz_out[lzw_lit + lzw_nl + i] = u8(u32(src[lz_gbase + lz_anchor + i]));
}

// Lanes whose byte pair at distance done + lane differs (or lies at or past
// limit), forward from start/from or, with `backward`, before them.
KVN_FN u32 lzDifferMask(u32 start, u32 from, bool in_dict, u32 done, u32 limit, bool backward) {
    u32 i = done + kvnLane();
    bool differ = i >= limit;
    if (!differ) {
        // One pair of loads for both directions keeps the module small.
        u32 a = backward ? start - 1u - i : start + i;
        u32 b = backward ? from - 1u - i : from + i;
        differ = lzByte(a) != lzSourceByte(in_dict, b);
    }
    return kvnBallot(differ);
}

// The literals from the anchor to the half's end, as one literal-only
// sequence.
KVN_FN void lzWriteTail(u32 end) {
    u32 tail = end - lz_anchor;
    u32 done = 0u;
    while (done < tail) {
        lzCopyLiteralBlock(tail, done);
        done += 32u;
    }
    if (done < tail) lz_cut = true;
    lzw_nl += tail;
    lzwLiteralRun(tail);
    lz_anchor = end;
}

// Opens sub-chunk `index` of the group at lz_gbase: its start b in the
// group, length n, slot and prefix (the frame's 8 raw bytes, copied here);
// the anchor is set after the prefix. False when the slot is too small for
// the scratch areas (tiny sub-chunks would spill into the next slot): the
// sub-chunk then gets the LZ size 0.
KVN_FN bool lzOpenSubChunk(u32 index, KVN_OUT(u32) b, KVN_OUT(u32) n, KVN_OUT(u32) slot, KVN_OUT(u32) prefix) {
    u32 lane = kvnLane();
    u32 rec = index * KVN_COMPRESS_DESC_WORDS;
    b = descs[rec + KVN_COMPRESS_W_SRC_OFF] - lz_gbase;
    n = descs[rec + KVN_COMPRESS_W_LEN];
    slot = descs[rec + KVN_COMPRESS_W_OUT_OFF];
    prefix = descs[rec + KVN_COMPRESS_W_FIRST] != 0u ? kvnMin(KVN_FRAME_PREFIX_BYTES, n) : 0u;
    if (lzwSlotBytes(n) > descs[rec + KVN_COMPRESS_W_OUT_STRIDE]) {
        if (lane == 0u) lz_sizes[index] = 0u;
        return false;
    }
    if (lane < prefix) lz_out[slot + lane] = u8(u32(src[lz_gbase + b + lane]));
    lzwBegin(slot, n, prefix);
    lz_cut = false;
    lz_anchor = b + prefix;
    return true;
}

// Writes the final layout and the LZ size, 0 when a loop was cut short.
KVN_FN void lzCloseSubChunk(u32 index, u32 slot, u32 prefix, u32 n, u32 first_half_tokens) {
    u32 end = lzwFinish(slot, prefix, n, first_half_tokens);
    if (kvnLane() == 0u) lz_sizes[index] = lz_cut || lzw_cut ? 0u : end - slot;
}
