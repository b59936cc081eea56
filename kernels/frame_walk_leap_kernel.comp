// The leap walk of a whole device-resident input: the host drives it phase by
// phase, one dispatch each, and the phases share their state through the
// control block. Frames of one large coded block each have their chunk
// records split over many warps, which find and follow record chains in
// parallel; one thread then joins the chains (parsing any record no chain
// covers, with the serial walk's own checks and statuses), and one thread per
// warp writes the descriptors of its chain. The descriptors, cells and
// statuses equal those of kvnMegaWalkKernel; an input with any frame of
// another shape is left to that walk (control word 19).
//   phase 0  one thread: does every frame suit the leap walk?
//   phase 1  one thread: set up the frame at word 17, or finish the walk
//   phase 2  one workgroup (one warp) per slice: find and follow a chain
//   phase 3  one thread: join the chains, step to the next frame
//   phase 4  one thread per warp: write its chain's descriptors
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// lavapipe ends an invocation's loops silently after 65,535 iterations in
// all; every phase counts its own and fails visibly before that.
KVN_CONST u32 kStepBudget = 65000u;

#include "kernels/frame_walk_bindings.h"

#define KVN_KERNEL kvnMegaLeapKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    KVN_WALK_BINDINGS(BUFFER)                     \
    BUFFER(10, KVN_RW, u32, ctl)                  \
    SCALAR(u32, src_len)                          \
    SCALAR(u32, desc_capacity)                    \
    SCALAR(u32, phase)                            \
    SCALAR(u32, warps)

// Which of the 32 probed positions hold a plausible record.
KVN_SHARED(u32, s_plausible, 32)

#include "kernels/kernel_begin.h"

KVN_CONST bool kMarkFrameFirst = true;
KVN_FN u32 walkDecodedCapacity() { return 0xFFFFFFFFu; }
#include "kernels/frame_reading.h"
KVN_FN u32 walkRefusal(u32 pos, u32 frames, u32 flags) { return kWalkOk; }
#include "kernels/frame_walk.h"
// One warp per workgroup.
KVN_FN u32 leapWarp() { return kvnBlockIndex(); }
KVN_FN u32 leapLane() { return kvnThreadIndex(); }
KVN_FN u32 leapThread() { return kvnBlockIndex() * 32u + kvnThreadIndex(); }
KVN_FN void leapWarpSync() { kvnBarrier(); }
KVN_FN u32 leapProbeBase() { return 0u; }
#include "kernels/frame_walk_leap.h"

KVN_FN void kvnMain() {
    if (phase == 0u) {
        leapSuitability();
    } else if (phase == 1u) {
        leapSetUp();
    } else if (phase == 2u) {
        leapFollow();
    } else if (phase == 3u) {
        leapJoin();
    } else {
        leapEmit();
    }
}
#include "kernels/kernel_end.h"
