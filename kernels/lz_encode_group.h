// The group and sub-chunk frame of the LZ encode kernels, around the parse of
// the entry's mode: a workgroup takes groups of consecutive sub-chunks, clears
// its table region once per group, and parses each sub-chunk in halves of at
// most 65,536 bytes before the stream writer lays it out. Included inside each
// entry after the parses (no include guard: every entry takes its own copy).

KVN_CONST u32 kLzModeGreedy = 0u;
KVN_CONST u32 kLzModeChain = 1u;
KVN_CONST u32 kLzModeSortParse = KVN_LZ_MODE_SORT_PARSE;

KVN_FN void lzParseHalfOfMode(u32 half_start, u32 end, bool dict_ok, bool second_half) {
    if (lz_mode == kLzModeChain) {
        lzChainParseHalf(end, dict_ok);
    } else if (lz_mode == kLzModeSortParse) {
        lzSortParseHalf(end);
    } else {
        lzGreedyParseHalf(half_start, end, dict_ok, second_half);
    }
}

#define KVN_LZ_CLEAR16(STEP) \
    STEP(0) STEP(1) STEP(2) STEP(3) STEP(4) STEP(5) STEP(6) STEP(7) STEP(8) STEP(9) STEP(10) STEP(11) STEP(12) STEP(13) STEP(14) STEP(15)
// Sixteen words per lane and pass keep the clearing of a level-5 workspace
// (294,912 words) at 576 passes of the invocation's loop budget.
#define KVN_LZ_CLEAR(i) \
    if (j + 32u * u32(i) < words) table.data[lz_region + j + 32u * u32(i)] = fill;

KVN_FN void lzParseSubChunk(u32 index, bool group_first) {
    u32 lane = kvnLane();
    u32 rec = index * KVN_COMPRESS_DESC_WORDS;
    u32 b = descs[rec + KVN_COMPRESS_W_SRC_OFF] - lz_gbase;
    u32 n = descs[rec + KVN_COMPRESS_W_LEN];
    u32 slot = descs[rec + KVN_COMPRESS_W_OUT_OFF];
    u32 prefix = descs[rec + KVN_COMPRESS_W_FIRST] != 0u ? kvnMin(KVN_FRAME_PREFIX_BYTES, n) : 0u;
    // A slot too small for the scratch areas (tiny sub-chunks) would spill
    // into the next one: such a sub-chunk gets the LZ size 0 instead.
    if (lzwSlotBytes(n, lz_mode != kLzModeGreedy) > descs[rec + KVN_COMPRESS_W_OUT_STRIDE]) {
        if (lane == 0u) lz_sizes[index] = 0u;
        return;
    }
    if (lane < prefix) lz_out[slot + lane] = u8(u32(src[lz_gbase + b + lane]));
    lzwBegin(slot, n, prefix, lz_mode != kLzModeGreedy);
    lz_cut = false;
    lz_anchor = b + prefix;
    lz_cur = lz_anchor;
    // A decoder reads the dictionary for every source before the sub-chunk,
    // so with a dictionary no other match may reach back past its start.
    lz_sub_lowest = dict_len > 0u ? b : 0u;
    lz_recent = KVN_INITIAL_REPEAT_DISTANCE;
    u32 first_end = b + kvnMin(n, KVN_HALF_SIZE);
    lzParseHalfOfMode(b, first_end, group_first && dict_len > 0u, false);
    u32 first_half_tokens = lzw_nt;
    if (n > KVN_HALF_SIZE) {
        lz_cur = kvnMax(lz_anchor, b + KVN_HALF_SIZE);
        lzParseHalfOfMode(b + KVN_HALF_SIZE, b + n, false, true);
    }
    u32 end = lzwFinish(slot, prefix, n, first_half_tokens);
    if (lane == 0u) lz_sizes[index] = lz_cut || lzw_cut ? 0u : end - slot;
}

KVN_FN void kvnMain() {
    u32 lane = kvnLane();
    u32 per = kvnMax(subs_per_group, 1u);
    u32 groups = (count + per - 1u) / per;
    u32 warp = kvnBlockIndex();
    // Greedy: one table of 2^bits entries per workgroup (16-bit entries two
    // to a word), empty entries all ones. Chain: one workspace per group,
    // cleared to 0 (an empty head names position 0, which the byte
    // comparison rejects unless it matches).
    u32 words = lz_mode == kLzModeChain ? lzcWorkspaceWords() : (1u << (hash_bits - lz_hash16));
    u32 fill = lz_mode == kLzModeChain ? 0u : kLzEmpty;
    lz_region = warp * words;
    lzExtendInit();
    // Sort-parse: the pre-pass filled each group's (one sub-chunk's)
    // workspace region; nothing is cleared.
    if (lz_mode == kLzModeSortParse) words = 0u;
    u32 g = warp;
    while (g < groups) {
        u32 first = g * per;
        if (lz_mode == kLzModeSortParse) lz_region = g < KVN_SORT_MAX_BATCH ? g * KVN_SORT_REGION_WORDS : kLzNoRegion;
        u32 last = kvnMin(first + per, count);
        lz_gbase = descs[first * KVN_COMPRESS_DESC_WORDS + KVN_COMPRESS_W_SRC_OFF];
        lz_glen = 0u;
        u32 s = first;
        while (s < last) {
            lz_glen += descs[s * KVN_COMPRESS_DESC_WORDS + KVN_COMPRESS_W_LEN];
            s += 1u;
        }
        lz_last_word = (lz_gbase + lz_glen + 4u) >> 2u;
        // The greedy parse takes positions (of the group and the dictionary)
        // as below 2^30: the winning lane passes its source in 30 bits.
        bool too_far = lz_glen >= 0x40000000u || dict_len >= 0x40000000u;
        bool group_cut = s < last || (lz_mode == kLzModeGreedy && too_far);
        u32 j = lane;
        while (j < words) {
            KVN_LZ_CLEAR16(KVN_LZ_CLEAR)
            j += 512u;
        }
        group_cut = group_cut || kvnBallot(j < words) != 0u;
        kvnMemoryFence();
        kvnWarpSync();
        // A short group length or a half-cleared table would mislead the
        // parse: the group's sub-chunks keep the LZ size 0 the host wrote.
        s = group_cut ? last : first;
        while (s < last) {
            lzParseSubChunk(s, s == first);
            s += 1u;
        }
        g += kvnGridBlocks();
    }
    // A loop cut short leaves LZ sizes unwritten (the host zeroes them).
}
