// One asynchronous job of a handle in one direction. A slot moves
// empty -> running (present) -> finished (present, done) -> empty: collected
// by a poll that joins, by the next start in its direction, or by destroying
// the handle.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/platform/platform.h"
#include "korvane.h"

namespace kvn {

struct AsyncSlot {
    Thread thread;
    bool present = false;
    // Written by the job's thread after result and size (release order),
    // read before them by the caller's thread (acquire order).
    std::atomic<bool> done{false};
    uint64_t size = 0;  // the byte count of a successful job
    uint64_t* size_out = nullptr;
    int32_t result = 0;
};

// Makes the slot ready for a new job: 5 (and no change) while a job runs; a
// finished job is joined and its result discarded.
KvnStatus prepareAsyncSlot(AsyncSlot& slot);

// Starts body(request) on a thread with a 32 MiB stack, keeping size_out
// (may be null) for the job: 0 with the slot present; with the slot empty, 7 when the thread's record cannot be
// allocated and 8 when the thread cannot be started (the caller still owns
// the request then).
KvnStatus launchAsyncJob(AsyncSlot& slot, ThreadBody body, void* request, uint64_t* size_out);

// The job's last act on its thread: stores the result (and the size when it
// is one) and marks the slot done.
void finishAsyncJob(AsyncSlot& slot, int32_t result);

// 0 when no job is present; 5 when wait is 0 and the job runs; otherwise
// joins the job, empties the slot and returns the job's result.
int32_t pollAsyncJob(AsyncSlot& slot, int32_t wait);

// Joins a present job, whatever its state, and empties the slot.
void joinAsyncJob(AsyncSlot& slot);

}  // namespace kvn
