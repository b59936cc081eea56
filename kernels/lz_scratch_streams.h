// Where the LZ kernels that read decoded streams find a sub-chunk's streams:
// the payload for stored ones, the decoded-stream scratch for Huffman-coded
// ones; and the dictionary. Needs the parameters of lz_general_params.h (C++)
// or of kvnLzDecodeKernel's SPIR-V form.
// No include guard: the C++ builds include it once per entry.
#if defined(KVN_TARGET_SPIRV)
KVN_FN u32 chunkCount() { return chunk_count[0]; }
KVN_FN u32 outputLength() { return output_len; }
KVN_FN u32 payloadLength() { return payload_len; }
KVN_FN u32 scratchSlot(u32 chunk) { return first_subchunk[chunk]; }
// Slot g's symbols start at scratch_offsets[g] in each area; the next slot's start ends them.
KVN_FN u32 scratchAt(u32 slot) { return scratch_offsets[slot]; }
KVN_FN u32 scratchBytes(u32 slot) { return scratch_offsets[slot + 1u] - scratch_offsets[slot]; }
KVN_FN bool scratchPresent(u32 where) {
    if (where == kStreamInLiteralScratch) return (literal_scratch_lo | literal_scratch_hi) != 0u;
    if (where == kStreamInTokenScratch) return (token_scratch_lo | token_scratch_hi) != 0u;
    return (off16_scratch_lo | off16_scratch_hi) != 0u;
}
KVN_FN u32 streamByte(u32 where, u32 at) {
    if (where == kStreamInPayload) return u32(payload[at]);
    if (where == kStreamInLiteralScratch) return u32(literal_scratch.data[at]);
    if (where == kStreamInTokenScratch) return u32(token_scratch.data[at]);
    return u32(off16_scratch.data[at]);
}
KVN_FN bool hasDictionary() { return (dictionary_lo | dictionary_hi) != 0u; }
#else
KVN_FN u32 chunkCount() { return chunk_count.data[0]; }
KVN_FN u32 outputLength() { return 0xFFFFFFFFu; }
KVN_FN u32 payloadLength() { return 0xFFFFFFFFu; }
KVN_FN u32 scratchSlot(u32 chunk) {
    u32 own = first_subchunk.data != nullptr ? first_subchunk.data[chunk] : chunk;
    return own - batch_first_subchunk;
}
KVN_FN bool scratchPresent(u32 where) { return scratch.data != nullptr; }
KVN_FN u32 scratchAt(u32 slot) {
    return scratch_offsets.data != nullptr ? scratch_offsets.data[slot] : slot * KVN_SUBCHUNK_SIZE;
}
KVN_FN u32 scratchBytes(u32 slot) {
    return scratch_offsets.data != nullptr ? scratch_offsets.data[slot + 1u] - scratch_offsets.data[slot]
                                           : KVN_SUBCHUNK_SIZE;
}
KVN_FN u32 streamByte(u32 where, u32 at) {
    if (where == kStreamInPayload) return u32(payload[at]);
    u64 area = u64(where - kStreamInLiteralScratch) * u64(scratch_stride.data);
    return u32(scratch.data[area + u64(at)]);
}
KVN_FN bool hasDictionary() { return dictionary.data != nullptr; }
#endif
KVN_FN u32 dictionaryLength() { return dictionary_len; }
KVN_FN u32 dictionaryByte(u32 i) { return u32(dictionary.data[i]); }
