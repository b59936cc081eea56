// Copying the four compacted Huffman lists into the merged list, for the two
// merge entries of descriptor_kernel.comp (their parameter table).

KVN_FN u32 listCount(u32 list) {
    if (list == KVN_SCAN_LIST_LITERALS) return count_literals[0];
    if (list == KVN_SCAN_LIST_TOKENS) return count_tokens[0];
    if (list == KVN_SCAN_LIST_OFF16_HIGH) return count_off16_high[0];
    return count_off16_low[0];
}

KVN_FN u32 listWord(u32 list, u32 at) {
    if (list == KVN_SCAN_LIST_LITERALS) return list_literals[at];
    if (list == KVN_SCAN_LIST_TOKENS) return list_tokens[at];
    if (list == KVN_SCAN_LIST_OFF16_HIGH) return list_off16_high[at];
    return list_off16_low[at];
}

// The block's threads copy list `list` to merged entries base, base + 1, ...,
// each with the table slot of its merged index. A list holds at most one
// entry per sub-chunk (32767 in a Huffman batch), 128 passes of the block's
// threads: inside lavapipe's 65,535 loop iterations per invocation.
KVN_FN void copyList(u32 list, u32 base) {
    u32 n = listCount(list);
    u32 i = kvnThreadIndex();
    for (; i < n; i += kvn_block_threads) {
        u32 from = i * KVN_HUFF_DEC_DESC_WORDS;
        u32 to = (base + i) * KVN_HUFF_DEC_DESC_WORDS;
        merged[to + KVN_HUFF_DEC_W_SRC_OFF] = listWord(list, from + KVN_HUFF_DEC_W_SRC_OFF);
        merged[to + KVN_HUFF_DEC_W_COMP_SIZE] = listWord(list, from + KVN_HUFF_DEC_W_COMP_SIZE);
        merged[to + KVN_HUFF_DEC_W_DST_OFF] = listWord(list, from + KVN_HUFF_DEC_W_DST_OFF);
        merged[to + KVN_HUFF_DEC_W_DECOMP_SIZE] = listWord(list, from + KVN_HUFF_DEC_W_DECOMP_SIZE);
        merged[to + KVN_HUFF_DEC_W_LUT_OFF] = (base + i) * KVN_HUFF_LUT_ENTRIES;
    }
}
