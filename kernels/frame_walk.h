// The one-thread walk over the frames of device-resident input, shared by
// the walk entries of frame_walk_kernel.comp. The including entry declares the
// walk's parameters (src, descs, the six cells, subchunk_starts,
// subchunk_total, src_len, desc_capacity), includes frame_reading.h and defines:
//   walkDecodedCapacity()  the most decoded bytes the walk may describe
//   kMarkFrameFirst        true when each frame's first chunk gets
//                          KVN_CHUNK_FLAG_FRAME_FIRST
//   walkRefusal(pos, frames, flags)   a status for the frame at pos (after
//                          `frames` good ones) that the walker does not take
//                          although it is well formed, else kWalkOk

// Running results of the walk.
u32 walk_descs;
u32 walk_decoded;
u32 walk_subchunks;
u32 walk_base;
bool walk_has_base;
u32 walk_payload_end;
u32 walk_steps;
bool walk_frame_first;  // the next descriptor opens a frame
// The compressed block whose chunk records are being walked.
u32 blk_pos;        // next record (input offset)
u32 blk_end;        // end of the records (the chunk-prefix area starts there)
u32 blk_raw;
u32 blk_chunk_size;

KVN_FN u32 emitDesc(u32 payload_off, u32 comp_size, u32 decoded, u32 dst, u32 flags, u32 fill, u32 subchunks) {
    if (walk_descs >= desc_capacity) return kWalkTooManyChunks;
    u32 at = walk_descs * KVN_CHUNK_DESC_WORDS;
    descs[at + KVN_CHUNK_DESC_W_SRC_OFF] = payload_off;
    descs[at + KVN_CHUNK_DESC_W_COMP_SIZE] = comp_size;
    descs[at + KVN_CHUNK_DESC_W_DECOMP_SIZE] = decoded;
    descs[at + KVN_CHUNK_DESC_W_DST_OFF] = dst;
    descs[at + KVN_CHUNK_DESC_W_FLAGS] = flags | (kMarkFrameFirst && walk_frame_first ? KVN_CHUNK_FLAG_FRAME_FIRST : 0u);
    walk_frame_first = false;
    descs[at + KVN_CHUNK_DESC_W_FILL] = fill;
    subchunk_starts[walk_descs] = walk_subchunks;
    walk_subchunks += subchunks;
    walk_descs += 1u;
    return kWalkOk;
}

// Chunk i of the current block: checks its record and emits its descriptor.
KVN_FN u32 walkChunk(u32 i) {
    u32 at = blk_pos;
    u32 room = blk_end - at;
    if (room < KVN_CHUNK_HDR_BYTES) return i == 0u ? kWalkTruncated : kWalkBadChunkHeader;
    u32 h0 = byteAt(at);
    u32 h1 = byteAt(at + 1u);
    u32 header_status = chunkHeaderStatus(h0, h1);
    if (header_status != kWalkOk) return header_status;
    u32 first = i * blk_chunk_size;
    u32 decoded = kvnMin(blk_chunk_size, blk_raw - first);
    u32 dst = walk_decoded + first;
    room -= KVN_CHUNK_HDR_BYTES;
    u32 body = at + KVN_CHUNK_HDR_BYTES;
    if ((h0 & KVN_CHUNK_HDR0_STORED) != 0u) {
        if (room < decoded) return kWalkTruncated;
        blk_pos = body + decoded;
        return emitDesc(body - walk_base, decoded, decoded, dst, KVN_CHUNK_KIND_STORED, 0u, 1u);
    }
    if (room < KVN_SIZE_HDR_BYTES) return kWalkSizeHeaderShort;
    u32 size_word = readU32(body);
    u32 mode = (size_word >> KVN_SIZE_HDR_MODE_SHIFT) & KVN_SIZE_HDR_MODE_MASK;
    if (mode > KVN_CHUNK_MODE_FILL) return kWalkBadChunkMode;
    room -= KVN_SIZE_HDR_BYTES;
    body += KVN_SIZE_HDR_BYTES;
    if (mode == KVN_CHUNK_MODE_FILL) {
        if (room < 1u) return kWalkSizeHeaderShort;
        blk_pos = body + 1u;
        return emitDesc(0u, 0u, decoded, dst, KVN_CHUNK_KIND_FILL, byteAt(body), 1u);
    }
    u32 coded = (size_word & KVN_SIZE_HDR_LEN_MASK) + 1u;
    if (room < coded) return kWalkTruncated;
    blk_pos = body + coded;
    if (coded == decoded) return emitDesc(body - walk_base, coded, decoded, dst, KVN_CHUNK_KIND_STORED, 0u, 1u);
    u32 subchunks = (decoded + KVN_SUBCHUNK_SIZE - 1u) / KVN_SUBCHUNK_SIZE;
    return emitDesc(body - walk_base, coded, decoded, dst, KVN_CHUNK_KIND_CODED, 0u, subchunks);
}

// The chunk records of a compressed block of len payload bytes at start.
KVN_FN u32 walkChunks(u32 start, u32 len, u32 raw, u32 chunk_size) {
    if (raw == 0u) return kWalkOk;
    u32 n = chunkCount(raw, chunk_size);
    if (n > KVN_MAX_CHUNKS_PER_BLOCK) return kWalkTooManyChunks;
    if (len < KVN_CHUNK_HDR_BYTES) return kWalkTruncated;
    u32 end = len;
    if ((byteAt(start) & KVN_CHUNK_HDR0_PREFIX_AREA) != 0u && n > 1u) {
        u32 area = KVN_CHUNK_PREFIX_BYTES * (n - 1u);
        if (area >= len) return kWalkTruncated;
        end = len - area;
    }
    blk_pos = start;
    blk_end = start + end;
    blk_raw = raw;
    blk_chunk_size = chunk_size;
    // Four records per iteration keep the 65,536 records of the largest
    // block within lavapipe's loop budget.
    u32 status = kWalkOk;
    u32 i = 0u;
    while (status == kWalkOk && i < n && walk_steps < kStepBudget) {
        walk_steps += 1u;
        status = walkChunk(i);
        if (status == kWalkOk && i + 1u < n) status = walkChunk(i + 1u);
        if (status == kWalkOk && i + 2u < n) status = walkChunk(i + 2u);
        if (status == kWalkOk && i + 3u < n) status = walkChunk(i + 3u);
        i += 4u;
    }
    if (status == kWalkOk && i < n) return kWalkTooManyChunks;
    return status;
}

// The blocks of the frame whose body starts at p; body_end gets the offset
// after its end mark and frame_raw the decoded bytes of its blocks.
KVN_FN u32 walkBody(u32 p, u32 chunk_size, KVN_OUT(u32) body_end, KVN_OUT(u32) frame_raw) {
    u32 blocks = 0u;
    frame_raw = 0u;
    bool ended = false;
    while (!ended && walk_steps < kStepBudget) {
        walk_steps += 1u;
        if (src_len - p < KVN_END_MARK_BYTES) {
            ended = true;  // no end mark: the frame ends with the input
            continue;
        }
        u32 word = readU32(p);
        if (word == 0u) {
            p += KVN_END_MARK_BYTES;
            ended = true;
            continue;
        }
        if (src_len - p < KVN_BLOCK_HDR_BYTES) return kWalkRawSizeMissing;
        u32 raw = readU32(p + 4u);
        u32 len = word & KVN_BLOCK_LEN_MASK;
        if (len == 0u && (word & KVN_BLOCK_SKIP) == 0u) {
            p += KVN_BLOCK_HDR_BYTES;  // a stored block of no bytes ends the frame too
            ended = true;
            continue;
        }
        if (blocks != 0u) return kWalkSecondBlock;
        if ((word & KVN_BLOCK_SKIP) != 0u) return kWalkUnsupported;
        if (raw > walkDecodedCapacity() - walk_decoded) return kWalkTooLarge;
        if (len > src_len - p - KVN_BLOCK_HDR_BYTES) return kWalkTruncated;
        u32 start = p + KVN_BLOCK_HDR_BYTES;
        if (!walk_has_base) {
            walk_base = start;
            walk_has_base = true;
        }
        u32 status = kWalkOk;
        if ((word & KVN_BLOCK_STORED) != 0u) {
            if (raw > len) return kWalkTruncated;
            status = emitDesc(start - walk_base, raw, raw, walk_decoded, KVN_CHUNK_KIND_STORED, 0u, 1u);
        } else {
            status = walkChunks(start, len, raw, chunk_size);
        }
        if (status != kWalkOk) return status;
        walk_payload_end = start + len;
        walk_decoded += raw;
        frame_raw += raw;
        blocks += 1u;
        p = start + len;
    }
    body_end = p;
    return ended ? kWalkOk : kWalkTooManyChunks;
}

// Every frame of the input, from offset 0.
KVN_FN u32 walkInput() {
    u32 pos = 0u;
    u32 frames = 0u;
    bool done = false;
    while (!done && walk_steps < kStepBudget) {
        walk_steps += 1u;
        u32 left = src_len - pos;
        if (left < KVN_FRAME_FIXED_HEADER_BYTES || readU32(pos) != KVN_FRAME_MAGIC) {
            // After a good frame, bytes that do not start one end the input.
            if (frames != 0u) {
                done = true;
                continue;
            }
            return left < KVN_FRAME_FIXED_HEADER_BYTES ? kWalkTruncated : kWalkBadMagic;
        }
        u32 header = 0u;
        u32 flags = 0u;
        u32 chunk_size = 0u;
        u32 header_status = frameHeaderStatus(pos, header, flags, chunk_size);
        if (header_status != kWalkOk) return header_status;
        u32 refusal = walkRefusal(pos, frames, flags);
        if (refusal != kWalkOk) return refusal;
        u32 body_end = 0u;
        u32 frame_raw = 0u;
        walk_frame_first = true;
        u32 status = walkBody(pos + header, chunk_size, body_end, frame_raw);
        if (status != kWalkOk) return status;
        frames += 1u;
        u64 next = u64(body_end);
        if ((flags & KVN_FRAME_CHUNK_TABLE) != 0u) {
            next += u64(KVN_CHUNK_TABLE_ENTRY_BYTES) * u64(chunkCount(frame_raw, chunk_size));
        }
        if ((flags & KVN_FRAME_CHECKSUM) != 0u) next += u64(KVN_FRAME_TRAILER_BYTES);
        if ((flags & KVN_FRAME_MERKLE_ROOT) != 0u) next += u64(KVN_FRAME_TRAILER_BYTES);
        if (next >= u64(src_len)) {
            done = true;
            continue;
        }
        pos = u32(next);
    }
    return done ? kWalkOk : kWalkTooManyChunks;
}

// Runs the walk and writes its results.
KVN_FN void runWalk() {
    if (kvnBlockIndex() != 0u || kvnThreadIndex() != 0u) return;
    meta_count[0] = 0u;
    meta_decoded[0] = 0u;
    meta_subchunk_size[0] = 0u;
    meta_payload_base[0] = 0u;
    meta_payload_len[0] = 0u;
    meta_status[0] = 0u;
    subchunk_total[0] = 0u;
    walk_descs = 0u;
    walk_decoded = 0u;
    walk_subchunks = 0u;
    walk_base = 0u;
    walk_has_base = false;
    walk_payload_end = 0u;
    walk_steps = 0u;
    walk_frame_first = false;
    blk_pos = 0u;
    blk_end = 0u;
    blk_raw = 0u;
    blk_chunk_size = 1u;
    u32 status = walkInput();
    if (status != kWalkOk) {
        meta_status[0] = status;
        return;
    }
    meta_count[0] = walk_descs;
    meta_decoded[0] = walk_decoded;
    meta_subchunk_size[0] = KVN_SUBCHUNK_SIZE;
    meta_payload_base[0] = walk_base;
    meta_payload_len[0] = walk_payload_end - walk_base;
    subchunk_total[0] = walk_subchunks;
}

