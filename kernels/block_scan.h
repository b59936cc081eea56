// Block-wide exclusive prefix sum over 256 threads, for kernels declared with
// 256-thread blocks and KVN_SYNC_BARRIERS. The including source declares
// KVN_SHARED(u32, kvn_scan_slots, 256) before its entries.
// Every thread of the block calls it from code the whole block reaches.
#ifndef KVN_BLOCK_SCAN_THREADS
#define KVN_BLOCK_SCAN_THREADS 256u
#endif

// Returns the sum of the values of the threads below this one; total gets
// the sum over the block.
KVN_FN u32 blockExclusiveScan(u32 value, KVN_OUT(u32) total) {
    u32 t = kvnThreadIndex();
    u32 v = value;
    kvn_scan_slots[t] = v;
    kvnBarrier();
    for (u32 d = 1u; d < KVN_BLOCK_SCAN_THREADS; d <<= 1u) {
        u32 add = t >= d ? kvn_scan_slots[t - d] : 0u;
        kvnBarrier();
        v += add;
        kvn_scan_slots[t] = v;
        kvnBarrier();
    }
    total = kvn_scan_slots[KVN_BLOCK_SCAN_THREADS - 1u];
    kvnBarrier();  // the slots are free again for the next call
    return v - value;
}
