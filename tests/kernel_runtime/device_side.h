// What kernel code calls while running on the test kernel runtime: its
// thread's coordinates, barriers and warp collectives. The host build of the
// kernel dialect maps its functions onto these.
#pragma once

#include <cstdint>

#include "tests/kernel_runtime/host_kernel.h"

namespace kvn::host {

struct ThreadCoordinates {
    uint32_t index;  // linear index in the block: x + y * block_x
    uint32_t x, y;
    uint32_t block_x, block_y;
    uint32_t grid_x, grid_y;
};

namespace detail {
// constinit: no dynamic initialisation, so reads need no TLS wrapper call.
extern thread_local constinit const ThreadCoordinates* current_thread;
extern thread_local constinit void* dynamic_shared;
}

inline const ThreadCoordinates& currentThread() { return *detail::current_thread; }

// The block's dynamic shared memory (LaunchShape::dynamic_shared_bytes,
// 8-byte aligned); nullptr when the launch asked for none.
inline void* dynamicShared() { return detail::dynamic_shared; }

// Waits until every live thread of the block has arrived; threads that have
// returned no longer count.
void blockBarrier();

// Waits until every live thread of every live block has arrived (cooperative
// launches only).
void gridBarrier();

// Lets other threads run: a spin loop calls it while it waits for another
// thread, which on the host may need this thread's processor.
void spinPause();

enum class WarpOp : uint8_t { Shuffle, Ballot, ReduceAdd, ReduceMin, ReduceMax, InclusiveAdd, MatchAny };

// Runs one collective over the caller's warp: every lane of the warp calls it
// with the same op; the result is computed when the last lane arrives.
// Shuffle reads lane (arg & 31)'s value; Ballot takes 0 or 1; MatchAny gives
// the lanes whose value equals the caller's.
uint32_t warpCollective(WarpOp op, uint32_t value, uint32_t arg);

}  // namespace kvn::host
