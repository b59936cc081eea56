// The one-thread frame walks of device-resident input: check every frame of
// the input (one block each) and write one KvnChunkDesc per chunk, each
// chunk's first sub-chunk index, the sub-chunk total and the WalkMeta cells.
// A fault ends the walk with a status word; the other cells stay zero.
// kvnWalkFrameKernel serves the per-frame road (bounded decoded size);
// kvnMegaWalkKernel walks a whole input for the multi-frame decode and marks
// each frame's first chunk, whose first sub-chunk carries the 8 raw bytes.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// lavapipe ends an invocation's loops silently after 65,535 iterations in
// all; the walk counts its own and fails visibly before that.
KVN_CONST u32 kStepBudget = 65000u;

#include "kernels/frame_walk_bindings.h"

#if defined(KVN_ENTRY_kvnWalkFrameKernel)
#define KVN_KERNEL kvnWalkFrameKernel
#define KVN_BLOCK_X 1
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    KVN_WALK_BINDINGS(BUFFER)                     \
    SCALAR(u32, src_len)                          \
    SCALAR(u32, desc_capacity)                    \
    SCALAR(u32, decoded_capacity)
#include "kernels/kernel_begin.h"

KVN_CONST bool kMarkFrameFirst = false;
KVN_FN u32 walkDecodedCapacity() { return decoded_capacity; }
#include "kernels/frame_reading.h"
KVN_FN u32 walkRefusal(u32 pos, u32 frames, u32 flags) { return kWalkOk; }
#include "kernels/frame_walk.h"

KVN_FN void kvnMain() { runWalk(); }
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnMegaWalkKernel)
#define KVN_KERNEL kvnMegaWalkKernel
#define KVN_BLOCK_X 1
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    KVN_WALK_BINDINGS(BUFFER)                     \
    SCALAR(u32, src_len)                          \
    SCALAR(u32, desc_capacity)
#include "kernels/kernel_begin.h"

// No decoded capacity: only the 32-bit decoded offsets bound the input.
KVN_CONST bool kMarkFrameFirst = true;
KVN_FN u32 walkDecodedCapacity() { return 0xFFFFFFFFu; }
#include "kernels/frame_reading.h"
KVN_FN u32 walkRefusal(u32 pos, u32 frames, u32 flags) { return kWalkOk; }
#include "kernels/frame_walk.h"

KVN_FN void kvnMain() { runWalk(); }
#include "kernels/kernel_end.h"
#endif
