// Warp collectives derived from each build's primitives (kvnShuffle,
// kvnBallot, kvnWarpReduce*, kvnWarpInclusiveAdd). Every lane of the warp
// calls a collective, from code that every lane reaches.
KVN_FN u32 kvnBroadcast(u32 v, u32 src_lane) { return kvnShuffle(v, src_lane); }

// Lanes below `delta` keep their own value.
KVN_FN u32 kvnShuffleUp(u32 v, u32 delta) {
    u32 lane = kvnLane();
    u32 r = kvnShuffle(v, lane - delta);
    return lane >= delta ? r : v;
}

// Lanes whose source would pass lane 31 keep their own value.
KVN_FN u32 kvnShuffleDown(u32 v, u32 delta) {
    u32 lane = kvnLane();
    u32 r = kvnShuffle(v, lane + delta);
    return lane + delta < 32u ? r : v;
}

KVN_FN u32 kvnShuffleXor(u32 v, u32 mask) { return kvnShuffle(v, kvnLane() ^ (mask & 31u)); }

KVN_FN bool kvnAny(bool p) { return kvnBallot(p) != 0u; }
KVN_FN bool kvnAll(bool p) { return kvnBallot(p) == 0xFFFFFFFFu; }

KVN_FN u32 kvnWarpExclusiveAdd(u32 v) { return kvnWarpInclusiveAdd(v) - v; }

// Lanes below the caller's lane, as a mask for counting set ballot bits.
KVN_FN u32 kvnLanesBelow() { return (1u << kvnLane()) - 1u; }
