// The LZ decoders' group is a whole block (KVN_SYNC_BARRIERS, kGroupThreads
// threads): the window's 32 tokens sit on threads 0-31 and every thread
// copies. The window collectives go through shared memory between block
// barriers that every thread reaches, so parsing and copying run as
// lock-step phases of the block. Reads of the 32 published values are
// unrolled: lavapipe counts every loop iteration of an invocation.
// Needs shared u32 arrays s_group_values[32] and s_group_flag[1].
// No include guard: the C++ builds include it once per entry.

KVN_CONST u32 kGroupThreads = u32(KVN_BLOCK_X * KVN_BLOCK_Y);
KVN_FN u32 groupThread() { return kvnThreadIndex(); }
KVN_FN u32 groupSlot() { return 0u; }
KVN_FN u32 groupLanesBelow() {
    u32 t = groupThread();
    return t < 32u ? (1u << t) - 1u : 0xFFFFFFFFu;
}
KVN_FN void groupSync() { kvnBarrier(); }

#define KVN_LZ_UNROLL32(STEP)                                                                                  \
    STEP(0) STEP(1) STEP(2) STEP(3) STEP(4) STEP(5) STEP(6) STEP(7) STEP(8) STEP(9) STEP(10) STEP(11) STEP(12) \
    STEP(13) STEP(14) STEP(15) STEP(16) STEP(17) STEP(18) STEP(19) STEP(20) STEP(21) STEP(22) STEP(23)          \
    STEP(24) STEP(25) STEP(26) STEP(27) STEP(28) STEP(29) STEP(30) STEP(31)

// Threads 0-31 publish v; every thread then reads.
KVN_FN void groupPublish(u32 v) {
    if (groupThread() < 32u) s_group_values[groupThread()] = v;
    kvnBarrier();
}

#define KVN_LZ_OR(k) r |= s_group_values[k];
KVN_FN u32 groupBallot(bool p) {
    groupPublish(p ? (1u << (groupThread() & 31u)) : 0u);
    u32 r = 0u;
    KVN_LZ_UNROLL32(KVN_LZ_OR)
    kvnBarrier();
    return r;
}

#define KVN_LZ_PREFIX(k) r += u32(k) <= t ? s_group_values[k] : 0u;
// Over threads 0-31; threads past them get the total.
KVN_FN u32 groupInclusiveAdd(u32 v) {
    groupPublish(v);
    u32 t = groupThread();
    u32 r = 0u;
    KVN_LZ_UNROLL32(KVN_LZ_PREFIX)
    kvnBarrier();
    return r;
}

KVN_FN u32 groupShuffle(u32 v, u32 src) {
    groupPublish(v);
    u32 r = s_group_values[src & 31u];
    kvnBarrier();
    return r;
}

// Over every thread of the block.
KVN_FN bool groupAny(bool p) {
    if (groupThread() == 0u) s_group_flag[0] = 0u;
    kvnBarrier();
    if (p) s_group_flag[0] = 1u;
    kvnBarrier();
    bool r = s_group_flag[0] != 0u;
    kvnBarrier();
    return r;
}
