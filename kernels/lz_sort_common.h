// What the sort-parse pre-pass kernels share: the sub-chunk of the block,
// its bytes, its workspace region and its keys. Included inside each entry
// after kernel_begin.h (no include guard: every entry takes its own copy);
// the entry provides `src`, `descs`, `count` and `work`.

// The block's sub-chunk: its first source byte, its length and its region.
u32 sort_base, sort_n, sort_region;

// Sets up the block's sub-chunk; false when the block has nothing to do (no
// such sub-chunk, an empty one, or one sort-parse does not take; the parse
// kernel stores those raw).
KVN_FN bool sortBegin() {
    u32 s = kvnBlockIndex();
    if (s >= count || s >= KVN_SORT_MAX_BATCH) return false;
    sort_base = descs[s * KVN_COMPRESS_DESC_WORDS + KVN_COMPRESS_W_SRC_OFF];
    sort_n = descs[s * KVN_COMPRESS_DESC_WORDS + KVN_COMPRESS_W_LEN];
    sort_region = s * KVN_SORT_REGION_WORDS;
    return sort_n != 0u && sort_n <= KVN_SORT_MAX_LEN;
}

// Bytes past the sub-chunk read as 0.
KVN_FN u32 sortByte(u32 p) { return p < sort_n ? u32(src[sort_base + p]) : 0u; }

KVN_FN u32 sortWord(u32 p) {
    return sortByte(p) | (sortByte(p + 1u) << 8u) | (sortByte(p + 2u) << 16u) | (sortByte(p + 3u) << 24u);
}

KVN_DEFINE_COMMON_LENGTH(sortCommonLength, sortWord)

// Key i of the sorted area: the low word holds bytes 4, 5 and the position,
// the high word bytes 0 to 3 (most significant first).
KVN_FN u32 sortKeyLow(u32 i) { return work.data[sort_region + KVN_SORT_KEYS_WORD + 2u * i]; }
KVN_FN u32 sortKeyHigh(u32 i) { return work.data[sort_region + KVN_SORT_KEYS_WORD + 2u * i + 1u]; }
KVN_FN u32 sortPosition(u32 i) { return sortKeyLow(i) & 0xFFFFu; }
