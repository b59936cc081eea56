// Probe kernel: block-wide inclusive prefix sum in shared memory, meeting at
// block barriers; reads its input as words or, through a second view of the
// same buffer, as bytes.
#include "kernels/dialect.h"

KVN_SHARED(u32, scan_slots, 256)

#define KVN_KERNEL kvnProbeBlockScanKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, words)                 \
    VIEW(0, KVN_RO, u8, bytes)                    \
    BUFFER(1, KVN_RW, u32, sums)                  \
    SCALAR(u32, count)                            \
    SCALAR(u32, byte_mode)
#include "kernels/kernel_begin.h"

// Threads past the end read 0 and still reach every barrier.
KVN_FN u32 loadElement(u32 i) {
    if (i >= count) return 0u;
    return byte_mode != 0u ? u32(bytes[i]) : words[i];
}

KVN_FN void kvnMain() {
    u32 t = kvnThreadIndex();
    u32 i = kvnBlockIndex() * kvn_block_threads + t;
    u32 v = loadElement(i);
    scan_slots[t] = v;
    kvnBarrier();
    for (u32 d = 1u; d < kvn_block_threads; d <<= 1u) {
        u32 add = t >= d ? scan_slots[t - d] : 0u;
        kvnBarrier();
        v += add;
        scan_slots[t] = v;
        kvnBarrier();
    }
    if (i < count) sums[i] = v;
}

#include "kernels/kernel_end.h"
