// The byte-plane transform of fixed-width records: within each block of C
// bytes (the whole input when C is 0) holding E elements of w bytes, byte b
// of element e sits at e * w + b element-major and at b * E + e plane-major.
// A block shorter than w, or whose length is not a multiple of w, is copied
// unchanged. One thread per byte; no loops, so any input length is served by
// the grid alone.
#include "kernels/dialect.h"

// The start of the block holding byte i, and a block's length.
KVN_FN u32 blockStart(u32 i, u32 n, u32 block) {
    u32 size = block == 0u ? n : block;
    return i - i % size;
}

KVN_FN u32 blockLength(u32 start, u32 n, u32 block) {
    u32 size = block == 0u ? n : block;
    return n - start < size ? n - start : size;
}

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnBytePlaneDeinterleaveKernel)
#define KVN_KERNEL kvnBytePlaneDeinterleaveKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, source)                 \
    BUFFER(1, KVN_RW, u8, destination)            \
    SCALAR(u32, n)                                \
    SCALAR(u32, w)                                \
    SCALAR(u32, block)
#include "kernels/kernel_begin.h"

// Thread i reads element-major byte i and writes it to its plane.
KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex();
    if (i >= n) return;
    u32 s = blockStart(i, n, block);
    u32 len = blockLength(s, n, block);
    if (len < w || len % w != 0u) {
        destination[i] = u8(u32(source[i]));
        return;
    }
    u32 off = i - s;
    destination[s + (off % w) * (len / w) + off / w] = u8(u32(source[i]));
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnBytePlaneInterleaveKernel)
#define KVN_KERNEL kvnBytePlaneInterleaveKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, source)                 \
    BUFFER(1, KVN_RW, u8, destination)            \
    SCALAR(u32, n)                                \
    SCALAR(u32, w)                                \
    SCALAR(u32, block)
#include "kernels/kernel_begin.h"

// Thread i reads plane-major byte i and writes it back to its element.
KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex();
    if (i >= n) return;
    u32 s = blockStart(i, n, block);
    u32 len = blockLength(s, n, block);
    if (len < w || len % w != 0u) {
        destination[i] = u8(u32(source[i]));
        return;
    }
    u32 elements = len / w;
    u32 off = i - s;
    destination[s + (off % elements) * w + off / elements] = u8(u32(source[i]));
}
#include "kernels/kernel_end.h"
#endif
