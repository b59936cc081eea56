// The LZ decoders' group is one warp: window collectives are the warp's own
// (lz_sequence.h describes the group hooks). No include guard: the C++
// builds include it once per entry.

KVN_CONST u32 kGroupThreads = 32u;
KVN_FN u32 groupThread() { return kvnLane(); }
// First entry of the warp's 32 in the per-block shared arrays.
KVN_FN u32 groupSlot() { return kvnWarpIndex() * 32u; }
KVN_FN u32 groupLanesBelow() { return kvnLanesBelow(); }
KVN_FN void groupSync() { kvnWarpSync(); }
KVN_FN u32 groupBallot(bool p) { return kvnBallot(p); }
KVN_FN bool groupAny(bool p) { return kvnAny(p); }
KVN_FN u32 groupInclusiveAdd(u32 v) { return kvnWarpInclusiveAdd(v); }
KVN_FN u32 groupShuffle(u32 v, u32 src) { return kvnShuffle(v, src); }
