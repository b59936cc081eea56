// Warp collectives of the SPIR-V build. The Vulkan device (lavapipe) reports
// 32-lane subgroups but runs 16 lanes, so subgroup operations give wrong
// results there without any error. A kernel with collectives therefore runs
// one 32-lane warp per workgroup and the collectives go through workgroup
// memory: every lane publishes its value, the warp meets at a barrier, every
// lane reads, and (for kvnShuffle and the reductions) a second barrier keeps
// the next collective from overwriting values still being read. The reads
// are unrolled rather than looped: lavapipe cuts every invocation off after
// 65,535 loop iterations.
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

#define KVN_SPV_ADD(k) r += kvn_warp_exchange[k];
#define KVN_SPV_MIN(k) r = min(r, kvn_warp_exchange[k]);
#define KVN_SPV_MAX(k) r = max(r, kvn_warp_exchange[k]);
#define KVN_SPV_PREFIX(k) r += u32(k) <= lane ? kvn_warp_exchange[k] : 0u;

KVN_SPV_WARP_COMBINE(kvnWarpReduceAdd, 0u, KVN_SPV_ADD)
KVN_SPV_WARP_COMBINE(kvnWarpReduceMin, 0xFFFFFFFFu, KVN_SPV_MIN)
KVN_SPV_WARP_COMBINE(kvnWarpReduceMax, 0u, KVN_SPV_MAX)
KVN_SPV_WARP_COMBINE(kvnWarpInclusiveAdd, 0u, KVN_SPV_PREFIX)

// lavapipe runs every shared-memory access as a loop over its lanes, whatever
// the address, so the collectives below keep such accesses few: a ballot is
// one atomic add and one read, a match one store and eight 16-byte reads.
//
// Ballots add each lane's bit into one of two words in turn; a word's growth
// since the lanes last read it is the ballot (the bits are distinct, so their
// sum is their OR). One barrier suffices: a word is added to again two
// ballots later, after the barrier of the ballot between, by when every lane
// has read it. kvnWarpInit zeroes both words before the kernel runs.
shared u32 kvn_ballot_words[2];
// The same in every lane: the word the next ballot uses and each word's value
// at its last read.
u32 kvn_ballot_turn = 0u;
u32 kvn_ballot_seen0 = 0u;
u32 kvn_ballot_seen1 = 0u;

u32 kvnBallot(bool p) {
    u32 t = kvn_ballot_turn;
    kvn_ballot_turn = t ^ 1u;
    if (p) atomicAdd(kvn_ballot_words[t], 1u << gl_LocalInvocationID.x);
    barrier();
    u32 now = kvn_ballot_words[t];
    u32 r = now - (t == 0u ? kvn_ballot_seen0 : kvn_ballot_seen1);
    if (t == 0u) kvn_ballot_seen0 = now;
    else kvn_ballot_seen1 = now;
    return r;
}

// The lanes whose v equals this lane's v (this lane included). The values go
// to one of two 32-word areas in turn, read back 4 words at a time; as with
// the ballot words, an area is written again only after one more barrier.
shared uvec4 kvn_match_values[16];
u32 kvn_match_turn = 0u;

#define KVN_SPV_MATCH4(k)                                                                             \
    q = kvn_match_values[base + u32(k)];                                                              \
    r |= ((q.x == v ? 1u : 0u) | (q.y == v ? 2u : 0u) | (q.z == v ? 4u : 0u) | (q.w == v ? 8u : 0u)) \
         << u32(4 * k);
u32 kvnMatchAny(u32 v) {
    u32 base = kvn_match_turn * 8u;
    kvn_match_turn ^= 1u;
    u32 lane = gl_LocalInvocationID.x;
    kvn_match_values[base + (lane >> 2u)][lane & 3u] = v;
    barrier();
    u32 r = 0u;
    uvec4 q;
    KVN_SPV_MATCH4(0) KVN_SPV_MATCH4(1) KVN_SPV_MATCH4(2) KVN_SPV_MATCH4(3)
    KVN_SPV_MATCH4(4) KVN_SPV_MATCH4(5) KVN_SPV_MATCH4(6) KVN_SPV_MATCH4(7)
    return r;
}

// Run by every lane before the kernel's own code.
void kvnWarpInit() {
    if (gl_LocalInvocationID.x == 0u) {
        kvn_ballot_words[0] = 0u;
        kvn_ballot_words[1] = 0u;
    }
    barrier();
}

// Orders the warp's shared-memory accesses (one warp is the whole workgroup).
void kvnWarpSync() { barrier(); }
