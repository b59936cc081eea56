#include "core/timing/timing_records.h"

namespace kvn {

KernelTiming beginKernelTiming(const CoreDeviceOps& ops, bool timing_on, PendingTimingList& pending,
                               const char* label, StreamHandle stream) {
    if (!timing_on || !ops.eventCreate || !ops.eventRecord) return {0, false};
    EventHandle start = 0;
    EventHandle end = 0;
    if (ops.eventCreate(&start, 0) != Error::None) return {0, false};
    if (ops.eventCreate(&end, 0) != Error::None) {
        if (ops.eventDestroy) ops.eventDestroy(start);
        return {0, false};
    }
    if (ops.eventRecord(start, stream) == Error::None && pending.push({label, start, end})) return {end, true};
    if (ops.eventDestroy) {
        ops.eventDestroy(start);
        ops.eventDestroy(end);
    }
    return {0, false};
}

void resolvePendingTimings(const CoreDeviceOps& ops, PendingTimingList& pending, TimingList& timings) {
    if (pending.empty()) return;
    timings.clear();
    if (ops.eventSynchronize && ops.eventElapsedTime && ops.eventDestroy) {
        for (const PendingTiming& pair : pending.items()) {
            ops.eventSynchronize(pair.end);
            float ms = 0.0f;
            if (ops.eventElapsedTime(&ms, pair.start, pair.end) != Error::None) ms = 0.0f;
            // A full list loses the entry, never the events.
            timings.push({pair.label, ms, 0});
            ops.eventDestroy(pair.start);
            ops.eventDestroy(pair.end);
        }
    }
    pending.clear();
}

void releaseTimingLists(const CoreDeviceOps& ops, PendingTimingList& pending, TimingList& timings) {
    if (ops.eventDestroy) {
        for (const PendingTiming& pair : pending.items()) {
            ops.eventDestroy(pair.start);
            ops.eventDestroy(pair.end);
        }
    }
    pending.release();
    timings.release();
}

}  // namespace kvn
