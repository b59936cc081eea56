// Warp collectives of the SPIR-V build. The Vulkan device (lavapipe) reports
// 32-lane subgroups but runs 16 lanes, so subgroup operations give wrong
// results there without any error. A kernel with collectives therefore runs
// one 32-lane warp per workgroup and the collectives go through workgroup
// memory: every lane publishes its value, the warp meets at a barrier, every
// lane reads, and a second barrier keeps the next collective from
// overwriting values still being read. The reads are unrolled rather than
// looped: lavapipe cuts every invocation off after 65,535 loop iterations.
shared u32 kvn_warp_exchange[32];

#define KVN_SPV_UNROLL32(STEP)                                                                   \
    STEP(0) STEP(1) STEP(2) STEP(3) STEP(4) STEP(5) STEP(6) STEP(7) STEP(8) STEP(9) STEP(10)     \
    STEP(11) STEP(12) STEP(13) STEP(14) STEP(15) STEP(16) STEP(17) STEP(18) STEP(19) STEP(20)    \
    STEP(21) STEP(22) STEP(23) STEP(24) STEP(25) STEP(26) STEP(27) STEP(28) STEP(29) STEP(30)    \
    STEP(31)

void kvnWarpPublish(u32 v) {
    kvn_warp_exchange[gl_LocalInvocationID.x] = v;
    barrier();
}

u32 kvnShuffle(u32 v, u32 src_lane) {
    kvnWarpPublish(v);
    u32 r = kvn_warp_exchange[src_lane & 31u];
    barrier();
    return r;
}

// Defines `u32 name(u32 v)`: every lane publishes v, then combines all 32
// published values with STEP(k), starting from `init`.
#define KVN_SPV_WARP_COMBINE(name, init, STEP) \
    u32 name(u32 v) {                          \
        kvnWarpPublish(v);                     \
        u32 lane = gl_LocalInvocationID.x;     \
        u32 r = init;                          \
        KVN_SPV_UNROLL32(STEP)                 \
        barrier();                             \
        return r;                              \
    }

#define KVN_SPV_OR(k) r |= kvn_warp_exchange[k];
#define KVN_SPV_ADD(k) r += kvn_warp_exchange[k];
#define KVN_SPV_MIN(k) r = min(r, kvn_warp_exchange[k]);
#define KVN_SPV_MAX(k) r = max(r, kvn_warp_exchange[k]);
#define KVN_SPV_PREFIX(k) r += u32(k) <= lane ? kvn_warp_exchange[k] : 0u;

KVN_SPV_WARP_COMBINE(kvnWarpOr, 0u, KVN_SPV_OR)
KVN_SPV_WARP_COMBINE(kvnWarpReduceAdd, 0u, KVN_SPV_ADD)
KVN_SPV_WARP_COMBINE(kvnWarpReduceMin, 0xFFFFFFFFu, KVN_SPV_MIN)
KVN_SPV_WARP_COMBINE(kvnWarpReduceMax, 0u, KVN_SPV_MAX)
KVN_SPV_WARP_COMBINE(kvnWarpInclusiveAdd, 0u, KVN_SPV_PREFIX)

u32 kvnBallot(bool p) { return kvnWarpOr(p ? (1u << gl_LocalInvocationID.x) : 0u); }

// Orders the warp's shared-memory accesses (one warp is the whole workgroup).
void kvnWarpSync() { barrier(); }
