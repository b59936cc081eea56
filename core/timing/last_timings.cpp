#include "core/timing/last_timings.h"

#include <algorithm>

#include "core/handle/handle.h"

namespace kvn {

void clearLastTimings(KvnHandle& handle) {
    const CoreDeviceOps ops = backend().deviceOps();
    resolvePendingTimings(ops, handle.encoder.pending_timings, handle.encoder.timings);
    resolvePendingTimings(ops, handle.decoder.pending_timings, handle.decoder.timings);
    handle.encoder.timings.clear();
    handle.decoder.timings.clear();
}

uint64_t collectLastTimings(KvnHandle& handle, TimingEntry* buf, uint64_t cap) {
    const CoreDeviceOps ops = backend().deviceOps();
    resolvePendingTimings(ops, handle.encoder.pending_timings, handle.encoder.timings);
    resolvePendingTimings(ops, handle.decoder.pending_timings, handle.decoder.timings);
    const TimingList* lists[] = {&handle.encoder.timings, &handle.decoder.timings};
    uint64_t copied = 0;
    uint64_t total = 0;
    for (const TimingList* list : lists) {
        total += list->size();
        if (!buf) continue;
        const uint64_t n = std::min(list->size(), cap - copied);
        std::copy_n(list->items().begin(), n, buf + copied);
        copied += n;
    }
    return total;
}

}  // namespace kvn
