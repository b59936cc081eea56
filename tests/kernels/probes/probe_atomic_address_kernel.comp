// Probe kernel: atomics on a bound buffer and on a buffer reached through a
// device address carried in the push constants, and a launch switch
// (specialization constant 7 on Vulkan, module global on CUDA). No barriers:
// the host build runs its threads without fibers.
#include "kernels/dialect.h"

KVN_LAUNCH_SWITCH(g_kvn_probe_switch, 7)

#define KVN_KERNEL kvnProbeAtomicAddressKernel
#define KVN_BLOCK_X 128
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, values)                \
    BUFFER(1, KVN_RW, u32, summary)               \
    ADDRESS(KVN_RW, u32, histogram)               \
    SCALAR(u32, count)                            \
    SCALAR(u32, bins)
#include "kernels/kernel_begin.h"

KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex();
    if (i >= count) return;
    u32 v = values[i];
    kvnAtomicAdd(histogram.data[v % bins], 1u);
    kvnAtomicMin(summary[0], v);
    kvnAtomicMax(summary[1], v);
    kvnAtomicOr(summary[2], v);
    kvnAtomicXor(summary[3], v);
    kvnAtomicAnd(summary[4], v);
    // Exactly one thread finds the word still 0.
    if (kvnAtomicCompSwap(summary[5], 0u, i + 1u) == 0u) kvnAtomicAdd(summary[6], 1u);
    kvnAtomicExchange(summary[7], 7u);
    kvnAtomicAdd(summary[8], v);
    if (i == 0u) summary[9] = g_kvn_probe_switch;
}

#include "kernels/kernel_end.h"
