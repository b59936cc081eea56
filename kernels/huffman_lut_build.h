// The decode table of one coded Huffman stream (descriptor `index`), built by
// one warp from the stream's 256 code lengths: kvnHuffBuildLutKernel's work,
// shared with the cooperative whole-input decode.
//
// Included after huffman_stream_bytes.h by an entry that provides:
//   u32 descWord(u32 index, u32 word)   the stream's descriptor words;
//   u32 lutOffset(u32 index)            where its table starts in `luts`;
//   the u32 buffer `luts` and the warp's work arrays `code_lengths` (256),
//   `canonical_symbols` (256), `length_count`, `length_first_code`,
//   `length_start` (13 each).
// No include guard: the C++ builds include it once per entry.

// Lane counts of lengths 1 to 12 travel packed three to a word, 10 bits each
// (a count never exceeds 256).
KVN_FN u32 packedCountUnit(u32 len) { return 1u << (10u * ((len - 1u) % 3u)); }
KVN_FN u32 packedCount(u32 p0, u32 p1, u32 p2, u32 p3, u32 len) {
    u32 group = (len - 1u) / 3u;
    u32 word = group == 0u ? p0 : (group == 1u ? p1 : (group == 2u ? p2 : p3));
    return (word >> (10u * ((len - 1u) % 3u))) & 1023u;
}

// The symbol whose code of `len` bits is `code`, or 256 when none is.
// Canonical codes of one length are consecutive, so this is a range test;
// a code counted past 2^len never matches since `code` has only len bits.
KVN_FN u32 symbolOfCode(u32 code, u32 len) {
    u32 k = code - length_first_code[len];
    return k < length_count[len] ? canonical_symbols[length_start[len] + k] : 256u;
}

// Table entry for the 10-bit window `window`: the code it starts with (and a
// second one when both fit), or the two 11-bit codes that extend it. Codes
// are prefix-free, so at most one code of length 1 to 10 starts the window.
KVN_FN u32 tableEntry(u32 window) {
    for (u32 la = 1u; la <= KVN_HUFF_LUT_BITS; ++la) {
        u32 a = symbolOfCode(window >> (KVN_HUFF_LUT_BITS - la), la);
        if (a < 256u) {
            u32 rest = KVN_HUFF_LUT_BITS - la;
            u32 rest_bits = window & ((1u << rest) - 1u);
            for (u32 lb = 1u; lb <= rest; ++lb) {
                u32 b = symbolOfCode(rest_bits >> (rest - lb), lb);
                if (b < 256u) return a | (b << 8u) | ((la + lb) << 16u) | (KVN_HUFF_LUT_TWO << 24u);
            }
            return a | (la << 16u) | (KVN_HUFF_LUT_ONE << 24u);
        }
    }
    u32 even = symbolOfCode(window * 2u, KVN_HUFF_MAX_CODE_LEN);
    u32 odd = symbolOfCode(window * 2u + 1u, KVN_HUFF_MAX_CODE_LEN);
    if (even == 256u && odd == 256u) return 0u;
    return (even & 255u) | ((odd & 255u) << 8u) | (KVN_HUFF_MAX_CODE_LEN << 16u) | (KVN_HUFF_LUT_LONG << 24u);
}

KVN_FN void buildLut(u32 index) {
    u32 src = descWord(index, KVN_HUFF_DEC_W_SRC_OFF);
    u32 size = descWord(index, KVN_HUFF_DEC_W_COMP_SIZE);
    u32 lut = lutOffset(index);
    u32 lane = kvnLane();

    // Lane l unpacks symbols 8l to 8l + 7 and counts their lengths.
    u32 p0 = 0u;
    u32 p1 = 0u;
    u32 p2 = 0u;
    u32 p3 = 0u;
    for (u32 k = 0u; k < 8u; ++k) {
        u32 byte = streamByte(src, size, u64(4u * lane + k / 2u));
        u32 len = (k & 1u) != 0u ? byte >> 4u : byte & 15u;
        code_lengths[8u * lane + k] = len;
        if (len >= 1u && len <= 12u) {
            u32 unit = packedCountUnit(len);
            u32 group = (len - 1u) / 3u;
            if (group == 0u) p0 += unit;
            else if (group == 1u) p1 += unit;
            else if (group == 2u) p2 += unit;
            else p3 += unit;
        }
    }
    u32 i0 = kvnWarpInclusiveAdd(p0);
    u32 i1 = kvnWarpInclusiveAdd(p1);
    u32 i2 = kvnWarpInclusiveAdd(p2);
    u32 i3 = kvnWarpInclusiveAdd(p3);
    u32 t0 = kvnBroadcast(i0, 31u);
    u32 t1 = kvnBroadcast(i1, 31u);
    u32 t2 = kvnBroadcast(i2, 31u);
    u32 t3 = kvnBroadcast(i3, 31u);

    // Length 12 takes part in the numbering but gets no entry; 13 to 15 do not count.
    if (lane == 0u) {
        u32 code = 0u;
        u32 start = 0u;
        for (u32 len = 1u; len <= 12u; ++len) {
            u32 c = packedCount(t0, t1, t2, t3, len);
            length_count[len] = c;
            length_first_code[len] = code;
            length_start[len] = start;
            code = (code + c) << 1u;
            start += c;
        }
    }
    kvnWarpSync();

    // Rank of each symbol among those of its length: earlier lanes, then
    // earlier symbols of this lane.
    for (u32 k = 0u; k < 8u; ++k) {
        u32 len = code_lengths[8u * lane + k];
        if (len >= 1u && len <= KVN_HUFF_MAX_CODE_LEN) {
            u32 rank = packedCount(i0 - p0, i1 - p1, i2 - p2, i3 - p3, len);
            for (u32 j = 0u; j < k; ++j) {
                if (code_lengths[8u * lane + j] == len) rank += 1u;
            }
            canonical_symbols[length_start[len] + rank] = 8u * lane + k;
        }
    }
    kvnWarpSync();

    // Fixed bounds only: 32 windows a lane, each at most 10 x 11 probes,
    // far inside lavapipe's 65,535 loop iterations per invocation.
    for (u32 i = 0u; i < KVN_HUFF_LUT_ENTRIES / 32u; ++i) {
        u32 window = i * 32u + lane;
        luts[lut + window] = tableEntry(window);
    }
}

