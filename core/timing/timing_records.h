// Per-kernel GPU timings: the pipelines bracket launches with a pair of
// events; the pairs wait in a pending list until someone needs the numbers,
// and resolving them turns each pair into a TimingEntry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/handle/page_array.h"
#include "core/interface/backend.h"
#include "korvane.h"

// The public record: a label, the milliseconds, then 4 bytes of padding.
static_assert(sizeof(TimingEntry) == 16 && offsetof(TimingEntry, milliseconds) == 8);

namespace kvn {

struct PendingTiming {
    const char* label;
    EventHandle start;
    EventHandle end;
};

using TimingList = PageArray<TimingEntry>;
using PendingTimingList = PageArray<PendingTiming>;

struct KernelTiming {
    EventHandle end;  // record it on the same stream after the launches when ok
    bool ok;
};

// Creates a pair of events, records the start on `stream` and queues the
// pair under `label`. {0, false} when timing is off or any step fails; the
// events of a failed attempt are destroyed. Timing never fails a call.
KernelTiming beginKernelTiming(const CoreDeviceOps& ops, bool timing_on, PendingTimingList& pending,
                               const char* label, StreamHandle stream);

// Nothing when no pair is pending. Otherwise replaces `timings` with one
// entry per pending pair, in order: waits for its end, reads the elapsed
// time (0 ms when that fails) and destroys both events. Without the three
// operations this needs, the pairs are dropped. The pending list ends empty.
void resolvePendingTimings(const CoreDeviceOps& ops, PendingTimingList& pending, TimingList& timings);

// Gives the pending pairs' events back to the device without reading them
// and returns both lists' pages: the end of a handle.
void releaseTimingLists(const CoreDeviceOps& ops, PendingTimingList& pending, TimingList& timings);

}  // namespace kvn
