// Probe of a CUDA-only kernel: a cooperative grid whose blocks meet at grid
// barriers, shared memory sized at launch, and parameters in the interleaved
// order such kernels use (device addresses between 32-bit values).
#include "kernels/dialect.h"

KVN_DYNAMIC_SHARED(u32, staged)

#define KVN_KERNEL kvnProbeCooperativeKernel
#define KVN_BLOCK_X 64
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_GRID
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    ADDRESS(KVN_RW, u32, slots)                   \
    SCALAR(u32, rounds)                           \
    ADDRESS(KVN_RW, u32, seen)
#include "kernels/kernel_begin.h"

// Each round every block publishes a value; after the grid barrier each block
// adds its right neighbour's. The sums leave through shared memory, reversed.
KVN_FN void kvnMain() {
    u32 b = kvnBlockIndex();
    u32 t = kvnThreadIndex();
    u32 blocks = kvnGridBlocks();
    u32 sum = 0u;
    for (u32 r = 0u; r < rounds; ++r) {
        if (t == 0u) slots.data[r * blocks + b] = b * 1000u + r;
        kvnGridSync();
        sum += slots.data[r * blocks + (b + 1u) % blocks];
    }
    staged()[t] = sum + t;
    kvnBarrier();
    seen.data[b * kvn_block_threads + t] = staged()[kvn_block_threads - 1u - t];
}

#include "kernels/kernel_end.h"
