// The warp's walk over the chunks of one work item: stored and byte-fill
// chunks are copied or filled, coded chunks are walked sub-chunk by
// sub-chunk (stored sub-chunks copied, coded ones located and decoded).
//
// Included after lz_sequence.h by an entry that also provides:
//   buffer `descs` (u32, KvnChunkDesc words) and scalar `chunks_per_item`,
//   `subchunk_size`;
//   u32 chunkCount(), u32 outputLength(), u32 payloadLength();
//   bool scratchPresent(u32 where)   a Huffman scratch area is bound;
//   u32 scratchSlot(u32 chunk)       the batch slot of the chunk's first sub-chunk;
//   u32 scratchAt(u32 slot), u32 scratchBytes(u32 slot)   where a slot's
//                                    symbols start in each scratch area and
//                                    how many it holds (read only with scratch);
//   void chunkDone(u32 chunk)         called by the whole group after each chunk;
//   the status cell `lz_status` (a storage buffer in the SPIR-V forms, an
//   address that may be null in the others).
// Every write stays inside the chunk's output range, every read inside its
// payload. Output the data leaves unwritten (a damaged sub-chunk header ends
// its chunk) and work a loop cut short leaves undone are OR-ed into the
// status cell (KVN_LZ_STATUS_*): the buffer still holds earlier bytes there.
// No include guard: the C++ builds include it once per entry.

#if defined(KVN_TARGET_SPIRV)
KVN_FN void reportLzStatus(u32 bits) { kvnAtomicOr(lz_status[0], bits); }
#else
KVN_FN void reportLzStatus(u32 bits) {
    if (lz_status.data != nullptr) kvnAtomicOr(lz_status.data[0], bits);
}
#endif

// n bytes from the payload at src to the output at dst, threads kGroupThreads apart.
KVN_FN void copyPayload(u32 dst, u32 src, u32 n, KVN_INOUT(bool) cut) {
    u32 k = groupThread();
    for (; k < n; k += kGroupThreads) out_bytes[dst + k] = u8(u32(payload[src + k]));
    if (k < n) cut = true;
    groupSync();
}

KVN_FN void fillOutput(u32 dst, u32 value, u32 n, KVN_INOUT(bool) cut) {
    u32 k = groupThread();
    for (; k < n; k += kGroupThreads) out_bytes[dst + k] = u8(value);
    if (k < n) cut = true;
    groupSync();
}

// A Huffman stream's symbols are in the scratch when its area is bound;
// without it the stream yields nothing. A slot holds `room` symbols, sized
// from what its sub-chunk can use (no more literals than decoded bytes, no
// more tokens than bytes save for no-op tokens, no more off16 entries than
// matches of three bytes or more): a stream that declares more is a corrupt
// frame, reported as unwritten output rather than decoded from a part of it.
KVN_FN StreamLoc placeStream(StreamLoc s, u32 where, u32 at, u32 room) {
    if (s.type == KVN_STREAM_HUFFMAN) {
        s.where = scratchPresent(where) ? where : kStreamAbsent;
        s.at = at;
        if (s.where == kStreamAbsent) s.count = 0u;
        if (s.count > room) {
            lz_unwritten = true;
            s.count = room;
        }
    }
    return s;
}

// The coded sub-chunk body [body, body + len) of `decoded` bytes at base.
KVN_FN void decodeCodedSubChunk(u32 body, u32 len, u32 decoded, u32 base, u32 mode, bool frame_first, u32 slot,
                                KVN_INOUT(bool) cut) {
    u32 body_end = body + len;
    ParsedStreams ps = parseSubChunkHeaders(body, body_end, decoded, frame_first);
    bool scratch = scratchPresent(kStreamInLiteralScratch) || scratchPresent(kStreamInTokenScratch) ||
                   scratchPresent(kStreamInOff16Scratch);
    u32 slot_at = scratch ? scratchAt(slot) : 0u;
    u32 room = scratch ? scratchBytes(slot) : 0u;
    u32 half_room = room / 2u;
    ps.lit = placeStream(ps.lit, kStreamInLiteralScratch, slot_at, room);
    ps.tok = placeStream(ps.tok, kStreamInTokenScratch, slot_at, room);
    ps.off16_high = placeStream(ps.off16_high, kStreamInOff16Scratch, slot_at, half_room);
    ps.off16_low = placeStream(ps.off16_low, kStreamInOff16Scratch, slot_at + half_room, half_room);
    if (frame_first) {
        u32 raw = kvnMin(kvnMin(KVN_FRAME_PREFIX_BYTES, decoded), len);
        if (raw < kvnMin(KVN_FRAME_PREFIX_BYTES, decoded)) lz_unwritten = true;
        if (groupThread() < raw) out_bytes[base + groupThread()] = u8(u32(payload[body + groupThread()]));
        groupSync();
    }

    SubChunkSeq q;
    q.ps = ps;
    q.delta = mode == KVN_LITMODE_DELTA;
    q.base = base;
    q.end = base + decoded;
    q.off16_count = ps.off16_split != 0u ? kvnMin(ps.off16_high.count, ps.off16_low.count) : ps.off16_count;
    // off32 counts: a 3-byte word of two 12-bit counts, 4095 escaping a u16.
    u32 at = ps.off32_at;
    u32 counts = bodyByte(at, body_end) | (bodyByte(at + 1u, body_end) << 8u) | (bodyByte(at + 2u, body_end) << 16u);
    at = bodySkip(at, KVN_OFF32_COUNT_BYTES, body_end);
    u32 count0 = counts >> KVN_OFF32_HALF_SHIFT;
    u32 count1 = counts & KVN_OFF32_HALF_MASK;
    if (count0 == KVN_OFF32_COUNT_ESCAPE) {
        count0 = bodyU16(at, body_end);
        at = bodySkip(at, 2u, body_end);
    }
    if (count1 == KVN_OFF32_COUNT_ESCAPE) {
        count1 = bodyU16(at, body_end);
        at = bodySkip(at, 2u, body_end);
    }
    u32 unused;
    q.off32_at0 = at;
    q.off32_count0 = walkOff32(at, count0, body_end, false, unused, cut);
    q.off32_at1 = at;
    q.off32_count1 = walkOff32(at, count1, body_end, false, unused, cut);
    q.len_end = body_end;

    SeqState st;
    st.len_pos = at;
    st.cut = false;
    decodeSequence(q, decoded, ps.tok.count, st);
    if (st.cut) cut = true;
}

// The coded chunk at payload [src, src + avail) that decodes to `left` bytes
// at dst; `slot` is the batch slot of its first sub-chunk.
KVN_FN void decodeCodedChunk(u32 src, u32 avail, u32 dst, u32 left, bool frame_first, u32 slot, KVN_INOUT(bool) cut) {
    u32 s_max = subchunk_size != 0u ? subchunk_size : KVN_SUBCHUNK_SIZE_DEFAULT;
    u32 p = src;
    u32 chunk_end = src + avail;
    u32 base = dst;
    bool walking = true;
    while (walking && left > 0u) {
        walking = chunk_end - p >= KVN_SUBCHUNK_HDR_BYTES;
        u32 hdr = 0u;
        if (walking) hdr = (u32(payload[p]) << 16u) | (u32(payload[p + 1u]) << 8u) | u32(payload[p + 2u]);
        u32 mode = (hdr >> KVN_SUBCHUNK_LITMODE_SHIFT) & KVN_SUBCHUNK_LITMODE_MASK;
        u32 len = hdr & KVN_SUBCHUNK_LEN_MASK;
        u32 body = p + KVN_SUBCHUNK_HDR_BYTES;
        // An invalid header, an undefined literal mode or an overlong body
        // ends the chunk.
        walking = walking && (hdr & KVN_SUBCHUNK_HDR_VALID) != 0u && mode <= KVN_LITMODE_PLAIN &&
                  len <= chunk_end - body;
        if (walking) {
            u32 decoded = kvnMin(left, s_max);
            if (len >= decoded) {
                copyPayload(base, body, decoded, cut);
            } else {
                decodeCodedSubChunk(body, len, decoded, base, mode, frame_first, slot, cut);
            }
            frame_first = false;
            p = body + len;
            base += decoded;
            left -= decoded;
            slot += 1u;
        }
    }
    // A header fault or the payload's end leaves the rest of the chunk unwritten.
    if (walking && left > 0u) cut = true;
    if (!walking && left > 0u) lz_unwritten = true;
}

KVN_FN void decodeChunk(u32 c, KVN_INOUT(bool) cut) {
    u32 d = c * KVN_CHUNK_DESC_WORDS;
    u32 src = descs[d + KVN_CHUNK_DESC_W_SRC_OFF];
    u32 comp = descs[d + KVN_CHUNK_DESC_W_COMP_SIZE];
    u32 size = descs[d + KVN_CHUNK_DESC_W_DECOMP_SIZE];
    u32 dst = descs[d + KVN_CHUNK_DESC_W_DST_OFF];
    u32 flags = descs[d + KVN_CHUNK_DESC_W_FLAGS];
    u32 out_len = outputLength();
    u32 payload_len = payloadLength();
    if (size == 0u) return;
    // A descriptor reaching outside the buffers cannot be decoded in full.
    if (dst >= out_len || size > out_len - dst) lz_unwritten = true;
    if (dst >= out_len) return;
    size = kvnMin(size, out_len - dst);
    u32 kind = chunkKind(flags);
    if (kind == KVN_CHUNK_KIND_FILL) {
        fillOutput(dst, descs[d + KVN_CHUNK_DESC_W_FILL] & 0xFFu, size, cut);
        return;
    }
    if (src >= payload_len || kind > KVN_CHUNK_KIND_FILL) {
        lz_unwritten = true;
        return;
    }
    if (kind == KVN_CHUNK_KIND_STORED) {
        if (size > payload_len - src) lz_unwritten = true;
        copyPayload(dst, src, kvnMin(size, payload_len - src), cut);
    } else if (kind == KVN_CHUNK_KIND_CODED) {
        decodeCodedChunk(src, kvnMin(comp, payload_len - src), dst, size, chunkOpensFrame(flags, dst), scratchSlot(c),
                         cut);
    }
}

// Work item `item` decodes chunks item x k .. item x k + k - 1 (k chunks per
// work item) that exist. A loop cut short stops the item, and so does the
// chunk loop itself when the budget runs out between chunks (a walk over
// thousands of tiny chunks): either is reported as KVN_LZ_STATUS_CUT, output
// the data left unwritten as KVN_LZ_STATUS_UNWRITTEN.
KVN_FN void decodeWorkItem(u32 item) {
    u32 count = chunkCount();
    u32 first = item * chunks_per_item;
    if (chunks_per_item == 0u || first / chunks_per_item != item || first >= count) return;
    u32 last = kvnMin(count - first, chunks_per_item) + first;
    bool cut = false;
    lz_unwritten = false;
    lz_loop_cut = false;
    u32 c = first;
    for (; c < last && !cut; ++c) {
        decodeChunk(c, cut);
        cut = groupAny(cut || lz_loop_cut);
        chunkDone(c);
    }
    if (c < last) cut = true;
    u32 status = (cut ? KVN_LZ_STATUS_CUT : 0u) | (lz_unwritten ? KVN_LZ_STATUS_UNWRITTEN : 0u);
    if (status != 0u) reportLzStatus(status);
}
