// Where the streams of one coded sub-chunk lie: the literal and token streams,
// the token split index, the off16 entries (plain, or split into a high-byte
// and a low-byte stream) and the start of the off32 block. One thread reads
// the layout; the scan kernel records it, the LZ kernels decode from it.
//
// Included after kernel_begin.h by entries that have a u8 buffer `payload`.
// Every read is bounded by the sub-chunk body: bytes past its end read as 0
// and positions never pass it, so damaged headers cost nothing but symbols.
// No include guard: the C++ builds include it once per entry.

// Where a stream's symbols are read from.
KVN_CONST u32 kStreamInPayload = 0u;
KVN_CONST u32 kStreamInLiteralScratch = 1u;
KVN_CONST u32 kStreamInTokenScratch = 2u;
KVN_CONST u32 kStreamInOff16Scratch = 3u;
KVN_CONST u32 kStreamAbsent = 4u;

struct StreamLoc {
    u32 type;   // stream type from the header (KVN_STREAM_STORED, KVN_STREAM_HUFFMAN, other)
    u32 off;    // payload offset of the stream's data (after its header)
    u32 len;    // data bytes inside the body: L or C, cut at the body end
    u32 count;  // symbols the stream yields (0 for an unknown type)
    u32 where;  // kStreamIn*: set by the reader that knows the scratch
    u32 at;     // offset of the symbols in `where`
};

struct ParsedStreams {
    StreamLoc lit;
    StreamLoc tok;
    StreamLoc off16_high;  // split form only
    StreamLoc off16_low;
    u32 prefix_len;   // 8 when the frame's raw bytes open the body, else 0
    u32 token_split;  // first-half token count field (0 when absent)
    u32 off16_split;  // 1: entries are low | high << 8 of the two streams
    u32 off16_off;    // plain form: payload offset of the u16 entries
    u32 off16_count;  // plain form: entries that fit in the body
    u32 off32_at;     // payload offset of the 3-byte off32 count word
};

KVN_FN u32 bodyByte(u32 pos, u32 end) { return pos < end ? u32(payload[pos]) : 0u; }

// pos + n, stopping at end.
KVN_FN u32 bodySkip(u32 pos, u32 n, u32 end) { return pos + kvnMin(n, end - pos); }

KVN_FN u32 bodyU16(u32 pos, u32 end) { return bodyByte(pos, end) | (bodyByte(pos + 1u, end) << 8u); }

// Reads one stream header at pos and steps over the stream's data. A stored
// stream yields its bytes that lie in the body; a Huffman stream yields
// min(N, max_symbols) decoded symbols; any other type is stepped over by the
// Huffman header rule and yields nothing.
KVN_FN StreamLoc readStreamHeader(KVN_INOUT(u32) pos, u32 end, u32 max_symbols) {
    u32 b0 = bodyByte(pos, end);
    u32 b1 = bodyByte(pos + 1u, end);
    u32 b2 = bodyByte(pos + 2u, end);
    bool short_form = (b0 & KVN_STREAM_SHORT_FORM) != 0u;
    StreamLoc s;
    s.type = (b0 >> KVN_STREAM_TYPE_SHIFT) & KVN_STREAM_TYPE_MASK;
    s.where = kStreamInPayload;
    u32 declared;
    if (s.type == KVN_STREAM_STORED) {
        declared = short_form ? (((b0 & 0x0Fu) << 8u) | b1) : (((b0 & 0x0Fu) << 16u) | (b1 << 8u) | b2);
        pos = bodySkip(pos, short_form ? KVN_STREAM_STORED_SHORT_HDR_BYTES : KVN_STREAM_STORED_HDR_BYTES, end);
        s.len = kvnMin(declared, end - pos);
        s.count = kvnMin(s.len, max_symbols);
    } else {
        u32 symbols;
        if (short_form) {
            declared = ((b1 & 3u) << 8u) | b2;
            symbols = declared + (((b0 & 0x0Fu) << 6u) | (b1 >> 2u)) + 1u;
            pos = bodySkip(pos, KVN_STREAM_HUFF_SHORT_HDR_BYTES, end);
        } else {
            declared = ((b2 & 3u) << 16u) | (bodyByte(pos + 3u, end) << 8u) | bodyByte(pos + 4u, end);
            symbols = (((b0 & 0x0Fu) << 14u) | (b1 << 6u) | (b2 >> 2u)) + 1u;
            pos = bodySkip(pos, KVN_STREAM_HUFF_HDR_BYTES, end);
        }
        s.len = kvnMin(declared, end - pos);
        s.count = s.type == KVN_STREAM_HUFFMAN ? kvnMin(symbols, max_symbols) : 0u;
    }
    s.off = pos;
    s.at = pos;
    pos = bodySkip(pos, declared, end);
    return s;
}

KVN_FN StreamLoc absentStream(u32 pos) {
    StreamLoc s;
    s.type = KVN_STREAM_STORED;
    s.off = pos;
    s.len = 0u;
    s.count = 0u;
    s.where = kStreamAbsent;
    s.at = 0u;
    return s;
}

// Locates the streams of the sub-chunk body [body, end) that decodes to
// `decoded` bytes (fewer than the body holds would make it stored, which the
// caller handles). frame_first: the body opens with the frame's 8 raw bytes.
KVN_FN ParsedStreams parseSubChunkHeaders(u32 body, u32 end, u32 decoded, bool frame_first) {
    ParsedStreams ps;
    u32 pos = body;
    ps.prefix_len = 0u;
    if (frame_first) {
        ps.prefix_len = KVN_FRAME_PREFIX_BYTES;
        pos = bodySkip(pos, KVN_FRAME_PREFIX_BYTES, end);
    }
    ps.lit = readStreamHeader(pos, end, KVN_STREAM_MAX_SYMBOLS);
    ps.tok = readStreamHeader(pos, end, KVN_STREAM_MAX_SYMBOLS);
    ps.token_split = 0u;
    if (decoded > KVN_HALF_SIZE) {
        ps.token_split = bodyU16(pos, end);
        pos = bodySkip(pos, 2u, end);
    }
    u32 count = bodyU16(pos, end);
    pos = bodySkip(pos, 2u, end);
    ps.off16_split = 0u;
    ps.off16_off = pos;
    ps.off16_count = 0u;
    ps.off16_high = absentStream(pos);
    ps.off16_low = absentStream(pos);
    if (count == KVN_OFF16_SPLIT) {
        ps.off16_split = 1u;
        ps.off16_high = readStreamHeader(pos, end, KVN_OFF16_MAX_ENTRIES);
        ps.off16_low = readStreamHeader(pos, end, KVN_OFF16_MAX_ENTRIES);
    } else {
        ps.off16_count = kvnMin(count, (end - pos) / 2u);
        pos += 2u * ps.off16_count;
    }
    ps.off32_at = pos;
    return ps;
}

// The chunk kind, and whether the chunk's first sub-chunk opens a frame (its
// output offset is the frame's start, or a walk over several frames says so).
KVN_FN u32 chunkKind(u32 flags) { return flags & KVN_CHUNK_KIND_MASK; }
KVN_FN bool chunkOpensFrame(u32 flags, u32 dst_off) {
    return (flags & KVN_CHUNK_FLAG_FRAME_FIRST) != 0u || dst_off == 0u;
}
