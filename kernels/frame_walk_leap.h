// The phases of the leap walk (frame_walk_leap_kernel.comp), on top of the
// serial walk's record checks (frame_walk.h), whose globals the join phase
// loads from and stores to the control block `ctl`. The including entry
// also provides the scalar `warps` and where a warp of the walk runs:
//   leapWarp(), leapLane()   the warp (0 .. warps - 1) and the lane in it;
//   leapThread()             the thread's index over the whole grid;
//   leapWarpSync()           orders the warp's lanes around `s_plausible`;
//   leapProbeBase()          the warp's 32 entries of `s_plausible`.

// Control words.
KVN_CONST u32 kCtlState = KVN_LEAP_CTL_STATE;  // a KVN_LEAP_STATE_* word
KVN_CONST u32 kCtlRecStart = 1u;    // first chunk record of the frame
KVN_CONST u32 kCtlRecEnd = 2u;      // end of the records (the chunk-prefix area starts there)
KVN_CONST u32 kCtlPayloadEnd = 3u;
KVN_CONST u32 kCtlChunkSize = 4u;
KVN_CONST u32 kCtlChunks = 5u;
KVN_CONST u32 kCtlRaw = 6u;
KVN_CONST u32 kCtlDecodedBefore = 7u;  // decoded bytes of the frames before this one
KVN_CONST u32 kCtlDescsBefore = 8u;    // their descriptors
KVN_CONST u32 kCtlBase = 10u;        // payload base (cell 3)
KVN_CONST u32 kCtlDescs = 13u;       // running totals
KVN_CONST u32 kCtlDecoded = 14u;
KVN_CONST u32 kCtlSubchunks = 15u;
KVN_CONST u32 kCtlPayloadEndLast = 16u;
KVN_CONST u32 kCtlNextFrame = 17u;
KVN_CONST u32 kCtlFirstFrame = 18u;
KVN_CONST u32 kCtlSerial = KVN_LEAP_CTL_SERIAL;
KVN_CONST u32 kCtlFrameFlags = 20u;
KVN_CONST u32 kCtlSlice = 21u;  // record bytes per warp
// Warp w's result at 32 + 8w.
KVN_CONST u32 kWarpFound = 2u;      // entries in its candidate list
KVN_CONST u32 kWarpFirst = 4u;      // first entry the join assigned it
KVN_CONST u32 kWarpCount = 5u;      // entries assigned
KVN_CONST u32 kWarpDesc = 6u;       // descriptor index of its first assigned entry
KVN_CONST u32 kWarpSubchunk = 7u;   // first sub-chunk index of it
KVN_CONST u32 kWarpEntries = KVN_LEAP_WARP_ENTRIES;
KVN_CONST u32 kNoRecord = 0xFFFFFFFFu;

KVN_FN u32 warpWord(u32 w, u32 word) { return KVN_LEAP_HEADER_WORDS + KVN_LEAP_RESULT_WORDS * w + word; }
// Entry k of warp w: the record's offset from the record start, then
// kind | fill byte << 2 | size field << 10.
KVN_FN u32 entryWord(u32 w, u32 k) {
    return KVN_LEAP_HEADER_WORDS + KVN_LEAP_RESULT_WORDS * warps + 2u * (kWarpEntries * w + k);
}

// Whether the block whose header is at p suits the leap walk: one coded
// block, large enough, with a chunk count the warps' lists hold.
KVN_FN bool leapBlockFits(u32 p, u32 chunk_size) {
    if (src_len - p < KVN_BLOCK_HDR_BYTES) return false;
    u32 word = readU32(p);
    u32 raw = readU32(p + 4u);
    u32 len = word & KVN_BLOCK_LEN_MASK;
    if ((word & (KVN_BLOCK_SKIP | KVN_BLOCK_STORED)) != 0u || len < KVN_LEAP_MIN_PAYLOAD || raw == 0u) return false;
    if (len > src_len - p - KVN_BLOCK_HDR_BYTES || len < KVN_CHUNK_HDR_BYTES) return false;
    u32 n = chunkCount(raw, chunk_size);
    if (n < KVN_LEAP_MIN_CHUNKS || n > kWarpEntries * warps || n > desc_capacity) return false;
    u32 h0 = byteAt(p + KVN_BLOCK_HDR_BYTES);
    if ((h0 & KVN_CHUNK_HDR0_PREFIX_AREA) != 0u && KVN_CHUNK_PREFIX_BYTES * (n - 1u) >= len) return false;
    return true;
}

// Offset after the frame whose block header is at p: its end mark (when
// present) and trailers; kNoRecord when something other than an end mark
// follows the block.
KVN_FN u32 leapFrameEnd(u32 p, u32 flags, u32 chunk_size) {
    u32 q = p + KVN_BLOCK_HDR_BYTES + (readU32(p) & KVN_BLOCK_LEN_MASK);
    if (src_len - q >= KVN_END_MARK_BYTES) {
        if (readU32(q) != 0u) return kNoRecord;
        q += KVN_END_MARK_BYTES;
    }
    u64 next = u64(q);
    if ((flags & KVN_FRAME_CHUNK_TABLE) != 0u) {
        next += u64(KVN_CHUNK_TABLE_ENTRY_BYTES) * u64(chunkCount(readU32(p + 4u), chunk_size));
    }
    if ((flags & KVN_FRAME_CHECKSUM) != 0u) next += u64(KVN_FRAME_TRAILER_BYTES);
    if ((flags & KVN_FRAME_MERKLE_ROOT) != 0u) next += u64(KVN_FRAME_TRAILER_BYTES);
    return next >= u64(src_len) ? src_len : u32(next);
}

// Phase 0.
KVN_FN void leapSuitability() {
    if (kvnBlockIndex() != 0u || kvnThreadIndex() != 0u) return;
    meta_count[0] = 0u;
    meta_decoded[0] = 0u;
    meta_subchunk_size[0] = KVN_SUBCHUNK_SIZE;
    meta_payload_base[0] = 0u;
    meta_payload_len[0] = 0u;
    meta_status[0] = 0u;
    subchunk_total[0] = 0u;
    for (u32 i = 0u; i < KVN_LEAP_HEADER_WORDS; ++i) ctl[i] = 0u;
    ctl[kCtlFirstFrame] = 1u;
    u32 pos = 0u;
    u32 frames = 0u;
    bool suits = true;
    bool done = false;
    u32 steps = 0u;
    while (suits && !done) {
        steps += 1u;
        if (steps >= kStepBudget) {
            suits = false;
            continue;
        }
        if (src_len - pos < KVN_FRAME_FIXED_HEADER_BYTES || readU32(pos) != KVN_FRAME_MAGIC) {
            suits = frames != 0u;  // damage at the start is the serial walk's to report
            done = true;
            continue;
        }
        u32 header = 0u;
        u32 flags = 0u;
        u32 chunk_size = 0u;
        if (frameHeaderStatus(pos, header, flags, chunk_size) != kWalkOk ||
            !leapBlockFits(pos + header, chunk_size)) {
            suits = false;
            continue;
        }
        u32 next = leapFrameEnd(pos + header, flags, chunk_size);
        frames += 1u;
        if (next == kNoRecord) {
            suits = false;
        } else if (next >= src_len) {
            done = true;
        } else {
            pos = next;
        }
    }
    ctl[kCtlSerial] = suits ? 0u : 1u;
}

// Phase 1.
KVN_FN void leapSetUp() {
    if (kvnBlockIndex() != 0u || kvnThreadIndex() != 0u) return;
    u32 pos = ctl[kCtlNextFrame];
    bool first = ctl[kCtlFirstFrame] != 0u;
    if (!first && (pos >= src_len || src_len - pos < KVN_FRAME_FIXED_HEADER_BYTES || readU32(pos) != KVN_FRAME_MAGIC)) {
        ctl[kCtlState] = KVN_LEAP_STATE_DONE;
        meta_count[0] = ctl[kCtlDescs];
        meta_decoded[0] = ctl[kCtlDecoded];
        meta_payload_len[0] = ctl[kCtlPayloadEndLast] - ctl[kCtlBase];
        subchunk_total[0] = ctl[kCtlSubchunks];
        return;
    }
    u32 header = 0u;
    u32 flags = 0u;
    u32 chunk_size = 0u;
    u32 status = src_len - pos < KVN_FRAME_FIXED_HEADER_BYTES ? kWalkTruncated
                 : readU32(pos) != KVN_FRAME_MAGIC            ? kWalkBadMagic
                                                              : frameHeaderStatus(pos, header, flags, chunk_size);
    // Phase 0 found every frame well formed; a frame that no longer is
    // stops the walk rather than taking a shape the later phases assume.
    if (status == kWalkOk && !leapBlockFits(pos + header, chunk_size)) status = kWalkUnsupported;
    if (status == kWalkOk) status = walkRefusal(pos, first ? 0u : 1u, flags);
    if (status == kWalkOk && readU32(pos + header + 4u) > walkDecodedCapacity() - ctl[kCtlDecoded]) {
        status = kWalkTooLarge;
    }
    if (status != kWalkOk) {
        meta_status[0] = status;
        ctl[kCtlState] = KVN_LEAP_STATE_FAULT;
        return;
    }
    u32 p = pos + header;
    u32 len = readU32(p) & KVN_BLOCK_LEN_MASK;
    u32 raw = readU32(p + 4u);
    u32 start = p + KVN_BLOCK_HDR_BYTES;
    u32 n = chunkCount(raw, chunk_size);
    u32 area = (byteAt(start) & KVN_CHUNK_HDR0_PREFIX_AREA) != 0u ? KVN_CHUNK_PREFIX_BYTES * (n - 1u) : 0u;
    if (first) {
        ctl[kCtlBase] = start;
        meta_payload_base[0] = start;
        ctl[kCtlFirstFrame] = 0u;
    }
    ctl[kCtlRecStart] = start;
    ctl[kCtlRecEnd] = start + len - area;
    ctl[kCtlPayloadEnd] = start + len;
    ctl[kCtlChunkSize] = chunk_size;
    ctl[kCtlChunks] = n;
    ctl[kCtlRaw] = raw;
    ctl[kCtlDecodedBefore] = ctl[kCtlDecoded];
    ctl[kCtlDescsBefore] = ctl[kCtlDescs];
    ctl[kCtlFrameFlags] = flags;
    u32 records = len - area;
    ctl[kCtlSlice] = kvnMax(1u, records / warps + (records % warps != 0u ? 1u : 0u));
    ctl[kCtlState] = KVN_LEAP_STATE_READY;
}

// The record at pos if it parses as a chunk of the full chunk size (at most
// the last chunk is shorter, and the join checks that one itself): its entry
// word, and next the position after it; kNoRecord when it does not parse.
KVN_FN u32 plausibleRecord(u32 pos, u32 rec_end, u32 chunk_size, KVN_OUT(u32) next) {
    next = kNoRecord;
    if (pos >= rec_end || rec_end - pos < KVN_CHUNK_HDR_BYTES) return kNoRecord;
    u32 h0 = byteAt(pos);
    if (chunkHeaderStatus(h0, byteAt(pos + 1u)) != kWalkOk) return kNoRecord;
    u32 room = rec_end - pos - KVN_CHUNK_HDR_BYTES;
    if ((h0 & KVN_CHUNK_HDR0_STORED) != 0u) {
        if (room < chunk_size) return kNoRecord;
        next = pos + KVN_CHUNK_HDR_BYTES + chunk_size;
        return KVN_CHUNK_KIND_STORED;
    }
    if (room < KVN_SIZE_HDR_BYTES) return kNoRecord;
    u32 size_word = readU32(pos + KVN_CHUNK_HDR_BYTES);
    u32 mode = (size_word >> KVN_SIZE_HDR_MODE_SHIFT) & KVN_SIZE_HDR_MODE_MASK;
    room -= KVN_SIZE_HDR_BYTES;
    if (mode == KVN_CHUNK_MODE_FILL) {
        if (room < 1u) return kNoRecord;
        next = pos + KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES + 1u;
        return KVN_CHUNK_KIND_FILL | (byteAt(next - 1u) << 2u);
    }
    u32 field = size_word & KVN_SIZE_HDR_LEN_MASK;
    if (mode != KVN_CHUNK_MODE_CODED || field >= chunk_size || room < field + 1u) return kNoRecord;
    next = pos + KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES + field + 1u;
    return KVN_CHUNK_KIND_CODED | (field << 10u);
}

// Phase 2: warp w finds the first plausible record in its slice (32
// positions a step, lane 0 choosing the lowest), follows the chain from it
// and keeps the chain when it ends at the record end or its next two records
// parse too; otherwise it tries again one byte further.
KVN_FN void leapFollow() {
    u32 w = leapWarp();
    u32 lane = leapLane();
    u32 rec_start = ctl[kCtlRecStart];
    u32 rec_end = ctl[kCtlRecEnd];
    u32 chunk_size = ctl[kCtlChunkSize];
    u32 slice = ctl[kCtlSlice];
    u32 records = rec_end - rec_start;
    bool live = w < warps && u64(w) * u64(slice) < u64(records);
    u32 from = live ? rec_start + w * slice : rec_end;
    u64 slice_end = u64(w + 1u) * u64(slice);
    u32 to = live ? rec_start + (slice_end < u64(records) ? u32(slice_end) : records) : rec_end;
    if (lane == 0u && w < warps) ctl[warpWord(w, kWarpFound)] = 0u;
    // Warp 0's slice starts at a known record.
    bool known = w == 0u;
    u32 probe = from;
    u32 steps = 0u;
    bool searching = live;
    while (searching) {
        // Uniform across the workgroup: every lane computes the same state.
        s_plausible[leapProbeBase() + lane] = 0u;
        u32 next = 0u;
        if (!known && probe + lane < to && plausibleRecord(probe + lane, rec_end, chunk_size, next) != kNoRecord) {
            s_plausible[leapProbeBase() + lane] = 1u;
        }
        leapWarpSync();
        u32 start = kNoRecord;
        if (known) start = probe;
        for (u32 l = 0u; l < 32u && start == kNoRecord; ++l) {
            if (s_plausible[leapProbeBase() + l] != 0u) start = probe + l;
        }
        leapWarpSync();
        steps += 1u;
        if (start == kNoRecord) {
            probe += 32u;
            searching = probe < to && steps < kStepBudget / 128u;
            continue;
        }
        // Every lane follows the chain (the same reads), lane 0 records it.
        u32 pos = start;
        u32 found = 0u;
        bool ended = false;
        while (!ended && found < kWarpEntries && pos < to) {
            u32 after = 0u;
            u32 entry = plausibleRecord(pos, rec_end, chunk_size, after);
            if (entry == kNoRecord) {
                ended = true;
                continue;
            }
            if (lane == 0u) {
                ctl[entryWord(w, found)] = pos - rec_start;
                ctl[entryWord(w, found) + 1u] = entry;
            }
            found += 1u;
            pos = after;
        }
        // Past the chain: the record end, a short tail, or two more records.
        bool good = found != 0u && (pos == rec_end || rec_end - pos < chunk_size + 8u);
        u32 check = pos;
        for (u32 k = 0u; k < 2u && !good && check != kNoRecord; ++k) {
            u32 after = 0u;
            if (plausibleRecord(check, rec_end, chunk_size, after) == kNoRecord) {
                check = kNoRecord;
            } else {
                check = after;
                good = k == 1u || after == rec_end;
            }
        }
        if (good || known) {
            if (lane == 0u) ctl[warpWord(w, kWarpFound)] = found;
            searching = false;
        } else {
            probe = start + 1u;
            searching = probe < to && steps < kStepBudget / 128u;
        }
    }
}

// Entry k of warp w as the descriptor of chunk `chunk` of the frame:
// fields as the serial walk writes them; returns its sub-chunk count.
KVN_FN u32 leapDesc(u32 w, u32 k, u32 chunk, u32 desc, bool write) {
    u32 rec = ctl[kCtlRecStart] + ctl[entryWord(w, k)];
    u32 entry = ctl[entryWord(w, k) + 1u];
    u32 chunk_size = ctl[kCtlChunkSize];
    u32 first = chunk * chunk_size;
    u32 decoded = kvnMin(chunk_size, ctl[kCtlRaw] - first);
    u32 kind = entry & 3u;
    u32 body = rec + KVN_CHUNK_HDR_BYTES;
    u32 comp = decoded;
    u32 fill = 0u;
    u32 subchunks = 1u;
    if (kind == KVN_CHUNK_KIND_FILL) {
        body = ctl[kCtlBase];
        comp = 0u;
        fill = (entry >> 2u) & 0xFFu;
    } else if (kind == KVN_CHUNK_KIND_CODED) {
        body += KVN_SIZE_HDR_BYTES;
        comp = (entry >> 10u) + 1u;
        if (comp == decoded) {
            kind = KVN_CHUNK_KIND_STORED;
        } else {
            subchunks = (decoded + KVN_SUBCHUNK_SIZE - 1u) / KVN_SUBCHUNK_SIZE;
        }
    }
    if (!write) return subchunks;
    u32 at = desc * KVN_CHUNK_DESC_WORDS;
    descs[at + KVN_CHUNK_DESC_W_SRC_OFF] = body - ctl[kCtlBase];
    descs[at + KVN_CHUNK_DESC_W_COMP_SIZE] = comp;
    descs[at + KVN_CHUNK_DESC_W_DECOMP_SIZE] = decoded;
    descs[at + KVN_CHUNK_DESC_W_DST_OFF] = ctl[kCtlDecodedBefore] + first;
    descs[at + KVN_CHUNK_DESC_W_FLAGS] = kind | (chunk == 0u ? KVN_CHUNK_FLAG_FRAME_FIRST : 0u);
    descs[at + KVN_CHUNK_DESC_W_FILL] = fill;
    return subchunks;
}

// One step of the search below: moves lo up by step while the entry before
// the new lo still lies below off.
KVN_FN u32 searchStep(u32 w, u32 lo, u32 step, u32 found, u32 off) {
    return lo + step <= found && ctl[entryWord(w, lo + step - 1u)] < off ? lo + step : lo;
}

// The candidate of warp w at record offset off, or kNoRecord. Six unrolled
// steps cover the 64 entries: a loop here would be charged on every record
// the join visits.
KVN_FN u32 findEntry(u32 w, u32 off) {
    u32 found = ctl[warpWord(w, kWarpFound)];
    u32 lo = searchStep(w, 0u, 32u, found, off);
    lo = searchStep(w, lo, 16u, found, off);
    lo = searchStep(w, lo, 8u, found, off);
    lo = searchStep(w, lo, 4u, found, off);
    lo = searchStep(w, lo, 2u, found, off);
    lo = searchStep(w, lo, 1u, found, off);
    return lo < found && ctl[entryWord(w, lo)] == off ? lo : kNoRecord;
}

// Phase 3: thread 0 walks the frame's records, taking runs of the warps'
// candidates where a record start is one and parsing the rest itself.
KVN_FN void leapJoin() {
    if (kvnBlockIndex() != 0u || kvnThreadIndex() != 0u) return;
    for (u32 w = 0u; w < warps; ++w) ctl[warpWord(w, kWarpCount)] = 0u;
    u32 rec_start = ctl[kCtlRecStart];
    u32 n = ctl[kCtlChunks];
    u32 slice = ctl[kCtlSlice];
    walk_descs = ctl[kCtlDescs];
    walk_decoded = ctl[kCtlDecoded];
    walk_subchunks = ctl[kCtlSubchunks];
    walk_base = ctl[kCtlBase];
    walk_has_base = true;
    walk_steps = 0u;
    walk_frame_first = true;
    blk_pos = rec_start;
    blk_end = ctl[kCtlRecEnd];
    blk_raw = ctl[kCtlRaw];
    blk_chunk_size = ctl[kCtlChunkSize];
    u32 status = kWalkOk;
    u32 i = 0u;
    while (status == kWalkOk && i < n && walk_steps < kStepBudget) {
        walk_steps += 1u;
        u32 off = blk_pos - rec_start;
        u32 w = kvnMin(off / slice, warps - 1u);
        u32 k = blk_pos < blk_end ? findEntry(w, off) : kNoRecord;
        u32 run = k == kNoRecord ? 0u : kvnMin(ctl[warpWord(w, kWarpFound)] - k, n - i);
        if (run == 0u || run > desc_capacity - walk_descs) {
            status = walkChunk(i);
            i += 1u;
            continue;
        }
        ctl[warpWord(w, kWarpFirst)] = k;
        ctl[warpWord(w, kWarpCount)] = run;
        ctl[warpWord(w, kWarpDesc)] = walk_descs;
        ctl[warpWord(w, kWarpSubchunk)] = walk_subchunks;
        for (u32 j = 0u; j < run && walk_steps < kStepBudget; ++j) {
            walk_steps += 1u;
            walk_subchunks += leapDesc(w, k + j, i + j, 0u, false);
        }
        walk_descs += run;
        walk_frame_first = false;
        i += run;
        u32 last = k + run - 1u;
        u32 after = 0u;
        plausibleRecord(rec_start + ctl[entryWord(w, last)], blk_end, blk_chunk_size, after);
        blk_pos = after;
    }
    if (status == kWalkOk && i < n) status = kWalkTooManyChunks;
    // The block is the frame's only one: an end mark (or the input end) follows.
    u32 p = ctl[kCtlPayloadEnd];
    if (status == kWalkOk && src_len - p >= KVN_END_MARK_BYTES && readU32(p) != 0u) {
        status = src_len - p < KVN_BLOCK_HDR_BYTES ? kWalkRawSizeMissing : kWalkSecondBlock;
    }
    if (status != kWalkOk) {
        meta_status[0] = status;
        ctl[kCtlState] = KVN_LEAP_STATE_FAULT;
        return;
    }
    ctl[kCtlDescs] = walk_descs;
    ctl[kCtlDecoded] = walk_decoded + blk_raw;
    ctl[kCtlSubchunks] = walk_subchunks;
    ctl[kCtlPayloadEndLast] = p;
    u32 header_end = rec_start - KVN_BLOCK_HDR_BYTES;
    ctl[kCtlNextFrame] = leapFrameEnd(header_end, ctl[kCtlFrameFlags], blk_chunk_size);
}

// Phase 4: thread w writes warp w's assigned entries.
KVN_FN void leapEmit() {
    u32 w = leapThread();
    if (w >= warps || ctl[kCtlState] != KVN_LEAP_STATE_READY) return;
    u32 first = ctl[warpWord(w, kWarpFirst)];
    u32 count = ctl[warpWord(w, kWarpCount)];
    u32 desc = ctl[warpWord(w, kWarpDesc)];
    u32 subchunk = ctl[warpWord(w, kWarpSubchunk)];
    u32 chunk = desc - ctl[kCtlDescsBefore];
    for (u32 j = 0u; j < count; ++j) {
        subchunk_starts[desc + j] = subchunk;
        subchunk += leapDesc(w, first + j, chunk + j, desc + j, true);
    }
}
