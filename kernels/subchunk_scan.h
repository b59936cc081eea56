// The scan of one chunk's sub-chunks before the Huffman stage: where each
// sub-chunk's Huffman-coded streams and the stored halves of a split off16
// stream lie, recorded in the six per-sub-chunk lists. kvnScanParseKernel's
// work, shared with the cooperative whole-input decode.
//
// Included after subchunk_streams.h by an entry that provides the u8 buffer
// `payload`, the scalars `payload_end` and `subchunk_size`, the descriptor
// buffer `descs`, the six lists (`huff_literals`, `huff_tokens`,
// `huff_off16_high`, `huff_off16_low`, `raw_off16_high`, `raw_off16_low`) and:
//   u32 scanFirstSubchunk(u32 chunk)   the list slot of the chunk's first sub-chunk;
//   u32 scanSlotAt(u32 g), u32 scanSlotBytes(u32 g)   where sub-chunk g's
//                                      decoded streams go in each scratch area,
//                                      and how many bytes its slot holds.
// No include guard: the C++ builds include it once per entry.

// Clears the six slots of sub-chunk g.
KVN_FN void clearSlots(u32 g) {
    huff_literals[g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT] = 0u;
    huff_tokens[g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT] = 0u;
    huff_off16_high[g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT] = 0u;
    huff_off16_low[g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT] = 0u;
    raw_off16_high[g * KVN_SCAN_RAW_DESC_WORDS + KVN_SCAN_RAW_W_PRESENT] = 0u;
    raw_off16_low[g * KVN_SCAN_RAW_DESC_WORDS + KVN_SCAN_RAW_W_PRESENT] = 0u;
}

// The list a Huffman stream of kind `list` goes to (KVN_SCAN_LIST_*); at
// most `room` of its symbols fit its place in the slot.
KVN_FN void recordHuffman(u32 list, u32 g, StreamLoc s, u32 dst_off, u32 room) {
    u32 w = g * KVN_SCAN_HUFF_DESC_WORDS;
    u32 v0 = s.off;
    u32 v1 = s.len;
    u32 v3 = kvnMin(s.count, room);
    if (list == KVN_SCAN_LIST_LITERALS) {
        huff_literals[w + KVN_SCAN_HUFF_W_SRC_OFF] = v0;
        huff_literals[w + KVN_SCAN_HUFF_W_COMP_SIZE] = v1;
        huff_literals[w + KVN_SCAN_HUFF_W_DST_OFF] = dst_off;
        huff_literals[w + KVN_SCAN_HUFF_W_DECOMP_SIZE] = v3;
        huff_literals[w + KVN_SCAN_HUFF_W_PRESENT] = 1u;
    } else if (list == KVN_SCAN_LIST_TOKENS) {
        huff_tokens[w + KVN_SCAN_HUFF_W_SRC_OFF] = v0;
        huff_tokens[w + KVN_SCAN_HUFF_W_COMP_SIZE] = v1;
        huff_tokens[w + KVN_SCAN_HUFF_W_DST_OFF] = dst_off;
        huff_tokens[w + KVN_SCAN_HUFF_W_DECOMP_SIZE] = v3;
        huff_tokens[w + KVN_SCAN_HUFF_W_PRESENT] = 1u;
    } else if (list == KVN_SCAN_LIST_OFF16_HIGH) {
        huff_off16_high[w + KVN_SCAN_HUFF_W_SRC_OFF] = v0;
        huff_off16_high[w + KVN_SCAN_HUFF_W_COMP_SIZE] = v1;
        huff_off16_high[w + KVN_SCAN_HUFF_W_DST_OFF] = dst_off;
        huff_off16_high[w + KVN_SCAN_HUFF_W_DECOMP_SIZE] = v3;
        huff_off16_high[w + KVN_SCAN_HUFF_W_PRESENT] = 1u;
    } else {
        huff_off16_low[w + KVN_SCAN_HUFF_W_SRC_OFF] = v0;
        huff_off16_low[w + KVN_SCAN_HUFF_W_COMP_SIZE] = v1;
        huff_off16_low[w + KVN_SCAN_HUFF_W_DST_OFF] = dst_off;
        huff_off16_low[w + KVN_SCAN_HUFF_W_DECOMP_SIZE] = v3;
        huff_off16_low[w + KVN_SCAN_HUFF_W_PRESENT] = 1u;
    }
}

// A stored half of a split off16 stream; its length is the entry count the
// LZ decode takes from it (cut at the body end, at 65536 and at the half slot).
KVN_FN void recordStoredHalf(bool low, u32 g, StreamLoc s, u32 dst_off, u32 room) {
    u32 w = g * KVN_SCAN_RAW_DESC_WORDS;
    u32 len = kvnMin(s.count, room);
    if (low) {
        raw_off16_low[w + KVN_SCAN_RAW_W_SRC_OFF] = s.off;
        raw_off16_low[w + KVN_SCAN_RAW_W_LEN] = len;
        raw_off16_low[w + KVN_SCAN_RAW_W_DST_OFF] = dst_off;
        raw_off16_low[w + KVN_SCAN_RAW_W_PRESENT] = 1u;
    } else {
        raw_off16_high[w + KVN_SCAN_RAW_W_SRC_OFF] = s.off;
        raw_off16_high[w + KVN_SCAN_RAW_W_LEN] = len;
        raw_off16_high[w + KVN_SCAN_RAW_W_DST_OFF] = dst_off;
        raw_off16_high[w + KVN_SCAN_RAW_W_PRESENT] = 1u;
    }
}

KVN_FN void recordOff16Half(bool low, u32 g, StreamLoc s) {
    u32 half_room = scanSlotBytes(g) / 2u;
    u32 dst_off = scanSlotAt(g) + (low ? half_room : 0u);
    if (s.type == KVN_STREAM_HUFFMAN) {
        recordHuffman(low ? KVN_SCAN_LIST_OFF16_LOW : KVN_SCAN_LIST_OFF16_HIGH, g, s, dst_off, half_room);
    } else if (s.type == KVN_STREAM_STORED) {
        recordStoredHalf(low, g, s, dst_off, half_room);
    }
}

KVN_FN void scanChunk(u32 i) {
    u32 d = i * KVN_CHUNK_DESC_WORDS;
    u32 src = descs[d + KVN_CHUNK_DESC_W_SRC_OFF];
    u32 comp = descs[d + KVN_CHUNK_DESC_W_COMP_SIZE];
    u32 left = descs[d + KVN_CHUNK_DESC_W_DECOMP_SIZE];
    u32 dst = descs[d + KVN_CHUNK_DESC_W_DST_OFF];
    u32 flags = descs[d + KVN_CHUNK_DESC_W_FLAGS];
    u32 g = scanFirstSubchunk(i);
    if (chunkKind(flags) != KVN_CHUNK_KIND_CODED || left == 0u) {
        clearSlots(g);
        return;
    }
    if (src >= payload_end) return;
    u32 s_max = subchunk_size != 0u ? subchunk_size : KVN_SUBCHUNK_SIZE_DEFAULT;
    u32 chunk_end = src + kvnMin(comp, payload_end - src);
    bool frame_first = chunkOpensFrame(flags, dst);
    u32 p = src;
    // A chunk holds at most 262144 / 65536 sub-chunks: far inside lavapipe's
    // loop budget of 65,535 iterations per invocation.
    while (left > 0u && chunk_end - p >= KVN_SUBCHUNK_HDR_BYTES) {
        clearSlots(g);
        u32 hdr = (u32(payload[p]) << 16u) | (u32(payload[p + 1u]) << 8u) | u32(payload[p + 2u]);
        u32 mode = (hdr >> KVN_SUBCHUNK_LITMODE_SHIFT) & KVN_SUBCHUNK_LITMODE_MASK;
        u32 len = hdr & KVN_SUBCHUNK_LEN_MASK;
        u32 body = p + KVN_SUBCHUNK_HDR_BYTES;
        // The decoders stop the chunk at the same faults.
        if ((hdr & KVN_SUBCHUNK_HDR_VALID) == 0u || mode > KVN_LITMODE_PLAIN || len > chunk_end - body) break;
        u32 decoded = kvnMin(left, s_max);
        // A stored sub-chunk's bytes are output, not stream headers.
        if (len < decoded) {
            ParsedStreams ps = parseSubChunkHeaders(body, body + len, decoded, frame_first);
            u32 at = scanSlotAt(g);
            u32 room = scanSlotBytes(g);
            if (ps.lit.type == KVN_STREAM_HUFFMAN) recordHuffman(KVN_SCAN_LIST_LITERALS, g, ps.lit, at, room);
            if (ps.tok.type == KVN_STREAM_HUFFMAN) recordHuffman(KVN_SCAN_LIST_TOKENS, g, ps.tok, at, room);
            if (ps.off16_split != 0u) {
                recordOff16Half(false, g, ps.off16_high);
                recordOff16Half(true, g, ps.off16_low);
            }
        }
        frame_first = false;
        left -= decoded;
        p = body + len;
        g += 1u;
    }
}

