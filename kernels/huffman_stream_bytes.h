// Reads of one coded Huffman stream for the Huffman decode kernels: a
// stream's bytes are payload[src .. src + size), and every byte at or past
// its end reads as zero, so a descriptor whose stream is cut short never
// leads a read into the bytes that follow it.
//
// Included after kernel_begin.h by an entry with a `payload` u8 buffer.

KVN_FN u32 streamByte(u32 src, u32 size, u64 off) {
    if (off >= u64(size)) return 0u;
    return u32(payload[src + u32(off)]);
}

