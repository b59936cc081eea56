// The decode of one coded Huffman stream (descriptor `index`) by one warp,
// lane k decoding the stream's lane k into the decoded-stream scratch:
// kvnHuffDecode4StreamKernel's work, shared with the cooperative whole-input
// decode.
//
// Included after huffman_stream_bytes.h by an entry that provides:
//   u32 descWord(u32 index, u32 word), u32 lutOffset(u32 index);
//   the u32 buffers `luts` and `list_counts` (the literal list's count in
//   word 0, the token list's in word kTokenListCountWord), the scalar
//   `dst_base` (subtracted from every destination), the byte areas
//   `literal_area`, `token_area`, `off16_area` (addresses) and the warp's
//   1024-word table copy `stream_table`.
// No include guard: the C++ builds include it once per entry.

KVN_CONST u32 kAreaLiterals = 0u;
KVN_CONST u32 kAreaTokens = 1u;
KVN_CONST u32 kAreaOff16 = 2u;

KVN_FN void storeSymbol(u32 area, u32 at, u32 symbol) {
    if (area == kAreaLiterals) literal_area.data[at] = u8(symbol & 255u);
    else if (area == kAreaTokens) token_area.data[at] = u8(symbol & 255u);
    else off16_area.data[at] = u8(symbol & 255u);
}

// Word w of this lane's bit string as a big-endian value: the first `rows`
// words interleaved with the other lanes, the rest from the lane's tail;
// words past the lane's length (and bytes past the stream) read as zero.
KVN_FN u64 laneWord(u32 src, u32 size, u32 body, u32 rows, u64 tail, u32 words, u32 w) {
    if (w >= words) return u64(0u);
    u64 off = w < rows ? u64(body) + u64(KVN_HUFF_ROW_BYTES) * u64(w) + u64(4u * kvnLane())
                       : tail + u64(4u) * u64(w - rows);
    if (off + u64(4u) <= u64(size)) {
        u32 at = src + u32(off);
        return u64((u32(payload[at]) << 24u) | (u32(payload[at + 1u]) << 16u) | (u32(payload[at + 2u]) << 8u) |
                   u32(payload[at + 3u]));
    }
    return u64((streamByte(src, size, off) << 24u) | (streamByte(src, size, off + 1u) << 16u) |
               (streamByte(src, size, off + 2u) << 8u) | streamByte(src, size, off + 3u));
}

// One table lookup at the top of the bit buffer: stores one symbol, or two
// when both fit the lane's count, and consumes their bits. False when no code
// starts there, which ends the lane and leaves the rest of it as it was.
KVN_FN bool decodeStep(u32 area, u32 lane_dst, u32 lane_count, KVN_INOUT(u64) bits, KVN_INOUT(u32) held,
                       KVN_INOUT(u32) done) {
    u32 entry = stream_table[u32(bits >> (64u - KVN_HUFF_LUT_BITS))];
    u32 used = (entry >> 16u) & 255u;
    if (used == 0u) return false;
    u32 kind = entry >> 24u;
    if (kind == KVN_HUFF_LUT_LONG) {
        u32 odd = u32(bits >> (63u - KVN_HUFF_LUT_BITS)) & 1u;
        storeSymbol(area, lane_dst + done, odd != 0u ? entry >> 8u : entry);
        done += 1u;
    } else {
        storeSymbol(area, lane_dst + done, entry);
        done += 1u;
        if (kind == KVN_HUFF_LUT_TWO && done < lane_count) {
            storeSymbol(area, lane_dst + done, entry >> 8u);
            done += 1u;
        }
    }
    bits = bits << used;
    held -= used;
    return true;
}

KVN_FN void decodeStream(u32 index) {
    u32 src = descWord(index, KVN_HUFF_DEC_W_SRC_OFF);
    u32 size = descWord(index, KVN_HUFF_DEC_W_COMP_SIZE);
    u32 dst = descWord(index, KVN_HUFF_DEC_W_DST_OFF);
    u32 count = descWord(index, KVN_HUFF_DEC_W_DECOMP_SIZE);
    u32 lut = lutOffset(index);

    // The list a descriptor came from picks its area and the most symbols its
    // scratch slot holds (a split off16 half gets half a slot).
    u32 literal_lists = list_counts[0];
    u32 token_lists = list_counts[kTokenListCountWord];
    u32 area = index < literal_lists ? kAreaLiterals : (index - literal_lists < token_lists ? kAreaTokens : kAreaOff16);
    count = kvnMin(count, area == kAreaOff16 ? KVN_OFF16_MAX_ENTRIES : KVN_STREAM_MAX_SYMBOLS);
    if (count == 0u || dst < dst_base) return;

    u32 lane = kvnLane();
    for (u32 i = 0u; i < KVN_HUFF_LUT_ENTRIES / 32u; ++i) stream_table[i * 32u + lane] = luts[lut + i * 32u + lane];
    kvnWarpSync();

    // Lane lengths: B plus this lane's W-bit delta, capped at the stream size.
    u32 min_bytes = streamByte(src, size, u64(KVN_HUFF_MIN_LANE_OFF)) |
                    (streamByte(src, size, u64(KVN_HUFF_MIN_LANE_OFF + 1u)) << 8u) |
                    (streamByte(src, size, u64(KVN_HUFF_MIN_LANE_OFF + 2u)) << 16u);
    u32 width = streamByte(src, size, u64(KVN_HUFF_DELTA_WIDTH_OFF));
    u64 delta = u64(0u);
    for (u32 b = 0u; b < kvnMin(width, 64u); ++b) {
        u32 bit = lane * width + b;
        u64 set = u64((streamByte(src, size, u64(KVN_HUFF_DELTAS_OFF + bit / 8u)) >> (bit % 8u)) & 1u);
        delta |= set << b;
    }
    u64 len = u64(min_bytes) + delta;
    if (len > u64(size)) len = u64(size);
    u32 words = u32((len + u64(3u)) / u64(4u));

    // Rows: as many as the header says and the stream holds.
    u32 rows_off = KVN_HUFF_DELTAS_OFF + 4u * width;
    u32 rows = streamByte(src, size, u64(rows_off)) | (streamByte(src, size, u64(rows_off + 1u)) << 8u) |
               (streamByte(src, size, u64(rows_off + 2u)) << 16u) | (streamByte(src, size, u64(rows_off + 3u)) << 24u);
    u32 body = rows_off + 4u;
    rows = size >= body ? kvnMin(rows, (size - body) / KVN_HUFF_ROW_BYTES) : 0u;

    // Tails follow the rows, lane after lane. A tail longer than the whole
    // stream only reads zeros, so each is capped at the stream size and the
    // prefix sum runs on 16-bit halves, which cannot overflow.
    u64 tail_len = words > rows ? u64(4u) * u64(words - rows) : u64(0u);
    u32 tail_bytes = tail_len < u64(size) ? u32(tail_len) : size;
    u32 before_high = kvnWarpExclusiveAdd(tail_bytes >> 16u);
    u32 before_low = kvnWarpExclusiveAdd(tail_bytes & 0xFFFFu);
    u64 tail = u64(body) + u64(KVN_HUFF_ROW_BYTES) * u64(rows) + (u64(before_high) << 16u) + u64(before_low);

    u32 per_lane = count / KVN_HUFF_LANES;
    u32 lane_count = lane < KVN_HUFF_LANES - 1u ? per_lane : count - (KVN_HUFF_LANES - 1u) * per_lane;
    u32 lane_dst = dst - dst_base + lane * per_lane;

    // A 64-bit buffer holds the next bits at its top, refilled a word at a
    // time; after a refill it holds at least 32 bits, enough for two codes.
    u64 bits = u64(0u);
    u32 held = 0u;
    u32 next_word = 0u;
    u32 done = 0u;
    bool valid = true;
    // Bounded by the symbol cap: a lane decodes at most 131072 / 32 + 31
    // symbols, at least one per pass, so lavapipe's loop budget (65,535
    // iterations per invocation) cannot cut this loop short.
    while (valid && done < lane_count) {
        if (held <= 32u) {
            bits |= laneWord(src, size, body, rows, tail, words, next_word) << (32u - held);
            next_word += 1u;
            held += 32u;
        }
        valid = decodeStep(area, lane_dst, lane_count, bits, held, done);
        if (valid && done < lane_count) valid = decodeStep(area, lane_dst, lane_count, bits, held, done);
    }
}

