// Storage-buffer bindings of every frame walk, named before kernel_begin.h:
// the input, the descriptors, the six WalkMeta cells
// (count, decoded bytes, sub-chunk size, payload base, payload length,
// status), the first-sub-chunk indices and the sub-chunk total.
#define KVN_WALK_BINDINGS(BUFFER)                 \
    BUFFER(0, KVN_RO, u8, src)                    \
    BUFFER(1, KVN_RW, u32, descs)                 \
    BUFFER(2, KVN_RW, u32, meta_count)            \
    BUFFER(3, KVN_RW, u32, meta_decoded)          \
    BUFFER(4, KVN_RW, u32, meta_subchunk_size)    \
    BUFFER(5, KVN_RW, u32, meta_payload_base)     \
    BUFFER(6, KVN_RW, u32, meta_payload_len)      \
    BUFFER(7, KVN_RW, u32, meta_status)           \
    BUFFER(8, KVN_RW, u32, subchunk_starts)       \
    BUFFER(9, KVN_RW, u32, subchunk_total)

