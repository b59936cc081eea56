// Probe kernel: every thread adds its lane number + 1 to its block's word, so
// each word of a grid the launch covered exactly once is 528 (1 + ... + 32).
// Reads no grid size: a launch larger than the device's workgroup counts may
// run it in pieces.
#include "kernels/dialect.h"

#define KVN_KERNEL kvnProbeGridKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RW, u32, counts)                \
    SCALAR(u32, row_blocks)
#include "kernels/kernel_begin.h"

KVN_FN void kvnMain() {
    u32 block = kvnBlockIndexY() * row_blocks + kvnBlockIndex();
    kvnAtomicAdd(counts[block], kvnThreadIndex() + 1u);
}

#include "kernels/kernel_end.h"
