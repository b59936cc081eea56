// The C++ (CUDA and host) parameters of the LZ kernels that read decoded
// streams from the scratch: kvnLzDecodeKernel and its four-warp form.
// No include guard: each entry defines its parameters.
// scratch_stride is a 64-bit value (the token area's offset from the literal
// area; the off16 area lies at twice it), passed where an address goes.
// scratch_offsets null: every slot holds KVN_SUBCHUNK_SIZE symbols.
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u8, out_bytes)              \
    SCALAR(u32, chunks_per_item)                  \
    ADDRESS(KVN_RO, u32, chunk_count)             \
    SCALAR(u32, subchunk_size)                    \
    ADDRESS(KVN_RO, u8, scratch)                  \
    ADDRESS(KVN_RO, u8, scratch_stride)           \
    ADDRESS(KVN_RO, u32, first_subchunk)          \
    ADDRESS(KVN_RO, u32, scratch_offsets)         \
    ADDRESS(KVN_RO, u8, dictionary)               \
    SCALAR(u32, dictionary_len)                   \
    SCALAR(u32, batch_first_subchunk)             \
    ADDRESS(KVN_RW, u32, lz_status)
