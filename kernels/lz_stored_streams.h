// Entry hooks of the LZ kernels that read stored streams only (the raw and
// the pipelined raw kernel): every stream lies in the payload, a Huffman-coded
// one yields no symbols. Both entries name their parameters alike.
// No include guard: the C++ builds include it once per entry.

#if defined(KVN_TARGET_SPIRV)
KVN_FN u32 chunkCount() { return chunk_count[0]; }
KVN_FN u32 outputLength() { return output_len; }
KVN_FN u32 payloadLength() { return payload_len; }
KVN_FN bool hasDictionary() { return (dictionary_lo | dictionary_hi) != 0u; }
#else
KVN_FN u32 chunkCount() { return chunk_count.data[0]; }
KVN_FN u32 outputLength() { return 0xFFFFFFFFu; }
KVN_FN u32 payloadLength() { return 0xFFFFFFFFu; }
KVN_FN bool hasDictionary() { return dictionary.data != nullptr; }
#endif
// Stored streams only: a Huffman-coded stream yields no symbols.
KVN_FN u32 scratchSlot(u32 chunk) { return 0u; }
KVN_FN bool scratchPresent(u32 where) { return false; }
KVN_FN u32 scratchAt(u32 slot) { return 0u; }
KVN_FN u32 scratchBytes(u32 slot) { return 0u; }
KVN_FN u32 streamByte(u32 where, u32 at) { return u32(payload[at]); }
KVN_FN u32 dictionaryLength() { return dictionary_len; }
KVN_FN u32 dictionaryByte(u32 i) { return u32(dictionary.data[i]); }
