// Walks the LZ output of one sub-chunk (the layout the LZ encode kernels
// write) and prices its encoded form, for the assembly kernels. Included
// inside each entry after kernel_begin.h (no include guard: each entry takes
// its own copy); the entry provides `lz_output` and `records`.

// Where the streams lie, relative to aw_base (the slot start plus the raw
// prefix), and their counts; set by asmWalk.
u32 aw_slot, aw_prefix, aw_raw_len, aw_base, aw_size;
u32 aw_lit_count, aw_tok_count, aw_tok_at, aw_fht_at, aw_n16, aw_off16_at, aw_off32_at;

KVN_FN u32 awByte(u32 at) { return u32(lz_output[aw_base + at]); }
KVN_FN u32 awBe24(u32 at) { return (awByte(at) << 16u) | (awByte(at + 1u) << 8u) | awByte(at + 2u); }
KVN_FN u32 awLe16(u32 at) { return awByte(at) | (awByte(at + 1u) << 8u); }

// False when the output cannot be walked: a count runs past the LZ size.
KVN_FN bool asmWalk(u32 index) {
    u32 rec = index * KVN_ASSEMBLE_RECORD_WORDS;
    aw_slot = records[rec + KVN_ASSEMBLE_W_LZ_OFF];
    u32 lz_size = records[rec + KVN_ASSEMBLE_W_LZ_SIZE];
    aw_raw_len = records[rec + KVN_ASSEMBLE_W_RAW_LEN];
    aw_prefix = records[rec + KVN_ASSEMBLE_W_PREFIX_LEN];
    if (lz_size < aw_prefix) return false;
    aw_base = aw_slot + aw_prefix;
    u32 s = lz_size - aw_prefix;
    aw_size = s;
    if (s < 3u) return false;
    aw_lit_count = awBe24(0u);
    if (aw_lit_count > s - 6u || s < 6u) return false;
    u32 pos = aw_lit_count + 3u;
    aw_tok_count = awBe24(pos);
    pos += 3u;
    if (aw_tok_count > s - pos) return false;
    aw_tok_at = pos;
    pos += aw_tok_count;
    aw_fht_at = pos;
    if (aw_raw_len > KVN_HALF_SIZE) {
        if (s - pos < 2u) return false;
        pos += 2u;
    }
    if (s - pos < 2u) return false;
    aw_n16 = awLe16(pos);
    pos += 2u;
    if (2u * aw_n16 > s - pos) return false;
    aw_off16_at = pos;
    pos += 2u * aw_n16;
    aw_off32_at = pos;
    if (s - pos < KVN_OFF32_COUNT_BYTES) return false;
    u32 counts = awByte(pos) | (awLe16(pos + 1u) << 8u);
    pos += KVN_OFF32_COUNT_BYTES;
    u32 c1 = counts >> KVN_OFF32_HALF_SHIFT;
    u32 c2 = counts & KVN_OFF32_HALF_MASK;
    if (c1 == KVN_OFF32_COUNT_ESCAPE) {
        if (s - pos < 2u) return false;
        c1 = awLe16(pos);
        pos += 2u;
    }
    if (c2 == KVN_OFF32_COUNT_ESCAPE) {
        if (s - pos < 2u) return false;
        c2 = awLe16(pos);
        pos += 2u;
    }
    // Entries take 3 bytes, or 4 when the third byte is 0xC0 or more.
    u32 left = c1 + c2;
    bool fits = true;
    while (left > 0u && fits) {
        fits = s - pos >= 3u;
        if (fits) {
            u32 entry = awByte(pos + 2u) >= KVN_OFF32_LONG_MARK ? 4u : 3u;
            fits = s - pos >= entry;
            pos += entry;
        }
        left -= 1u;
    }
    return fits && left == 0u;
}

// A literal or token stream is Huffman-coded when that saves bytes over its
// 3-byte count and raw bytes.
KVN_FN bool asmStreamCoded(u32 count, u32 coded) { return coded != 0u && coded + 5u < count + 3u; }
KVN_FN u32 asmStreamCost(u32 count, u32 coded) { return asmStreamCoded(count, coded) ? coded + 5u : count + 3u; }
// A half of a split off16 stream is coded when that saves more than its
// extra header bytes.
KVN_FN bool asmHalfCoded(u32 n, u32 coded) { return coded != 0u && coded + 2u < n; }
KVN_FN u32 asmHalfCost(u32 n, u32 coded) { return asmHalfCoded(n, coded) ? coded + 5u : n + 3u; }

KVN_FN bool asmOff16Split(u32 index) {
    u32 rec = index * KVN_ASSEMBLE_RECORD_WORDS;
    if (aw_n16 < 32u) return false;
    return asmHalfCost(aw_n16, records[rec + KVN_ASSEMBLE_W_OFF16_HI_SIZE]) +
               asmHalfCost(aw_n16, records[rec + KVN_ASSEMBLE_W_OFF16_LO_SIZE]) <
           2u * aw_n16;
}

// Body length of the encoded sub-chunk (without its 3-byte header), after a
// successful walk.
KVN_FN u32 asmBodySize(u32 index) {
    u32 rec = index * KVN_ASSEMBLE_RECORD_WORDS;
    u32 size = aw_prefix + asmStreamCost(aw_lit_count, records[rec + KVN_ASSEMBLE_W_LIT_SIZE]) +
               asmStreamCost(aw_tok_count, records[rec + KVN_ASSEMBLE_W_TOK_SIZE]);
    if (aw_raw_len > KVN_HALF_SIZE) size += 2u;
    if (asmOff16Split(index)) {
        size += 2u + asmHalfCost(aw_n16, records[rec + KVN_ASSEMBLE_W_OFF16_HI_SIZE]) +
                asmHalfCost(aw_n16, records[rec + KVN_ASSEMBLE_W_OFF16_LO_SIZE]);
    } else {
        size += 2u + 2u * aw_n16;
    }
    // The off32 counts and entries and the length stream are copied as they are.
    return size + aw_size - aw_off32_at;
}
