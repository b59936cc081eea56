// Probe kernel: warp-cooperative compaction (ballot, exclusive scan) over
// 32-value tiles, plus one row of every warp collective's result per thread.
// Blocks of 32 x 2: the SPIR-V build runs each warp as its own workgroup.
#include "kernels/dialect.h"

// Per-warp slots, indexed by the warp's number in its block.
KVN_SHARED(u32, warp_totals, 2)

KVN_CONST u32 kResultsPerThread = 10u;

#define KVN_KERNEL kvnProbeWarpCompactKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 2
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_MIN_BLOCKS 24
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, values)                \
    BUFFER(1, KVN_RW, u32, kept)                  \
    BUFFER(2, KVN_RW, u32, tile_counts)           \
    BUFFER(3, KVN_RW, u32, lane_results)          \
    SCALAR(u32, count)                            \
    SCALAR(u32, drop_mask)
#include "kernels/kernel_begin.h"

// One tile per call; every lane of the warp calls it.
KVN_FN void compactTile(u32 tile) {
    u32 lane = kvnLane();
    u32 idx = tile * 32u + lane;
    bool valid = idx < count;
    u32 v = valid ? values[idx] : 0u;
    bool keep = valid && (v & drop_mask) == 0u;

    u32 ballot = kvnBallot(keep);
    u32 pos = kvnWarpExclusiveAdd(keep ? 1u : 0u);
    u32 total = kvnPopcount(ballot);
    if (keep) kept[tile * 32u + pos] = v;
    if (lane == 0u) {
        tile_counts[tile] = total;
        warp_totals[kvnWarpIndex()] = total;
    }
    kvnWarpSync();
    u32 seen_total = warp_totals[kvnWarpIndex()];
    kvnWarpSync();

    u32 r[kResultsPerThread];
    r[0] = kvnShuffle(v, 31u - lane);
    r[1] = kvnShuffleUp(v, 3u);
    r[2] = kvnShuffleDown(v, 5u);
    r[3] = kvnShuffleXor(v, 6u);
    r[4] = kvnBroadcast(v, tile % 32u);
    r[5] = kvnWarpReduceMin(v);
    r[6] = kvnWarpReduceMax(v);
    r[7] = kvnWarpInclusiveAdd(v);
    r[8] = kvnWarpReduceAdd(v);
    r[9] = (kvnAny(keep) ? 1u : 0u) | (kvnAll(valid) ? 2u : 0u) |
           (pos == kvnPopcount(ballot & kvnLanesBelow()) ? 4u : 0u) | (seen_total == total ? 8u : 0u);
    if (valid) {
        for (u32 k = 0u; k < kResultsPerThread; ++k) lane_results[idx * kResultsPerThread + k] = r[k];
    }
}

KVN_FN void kvnMain() {
    u32 tiles = (count + 31u) / 32u;
    u32 warps = kvnGridBlocks() * 2u;
    u32 tile = kvnBlockIndex() * 2u + kvnWarpIndex();
    while (tile < tiles) {
        compactTile(tile);
        tile += warps;
    }
    // A loop cut short (lavapipe stops loops after 65,535 iterations) leaves a mark.
    if (tile < tiles) tile_counts[tiles] = 0xFFFFFFFFu;
}

#include "kernels/kernel_end.h"
