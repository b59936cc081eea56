#include "core/timing/last_timings.h"

#include <algorithm>

#include "core/handle/handle.h"

namespace kvn {
namespace {

struct SideLists {
    PendingTimingList& pending;
    TimingList& timings;
};

SideLists sideLists(KvnHandle& handle, JobSide side) {
    if (side == JobSide::Encoder) return {handle.encoder.pending_timings, handle.encoder.timings};
    return {handle.decoder.pending_timings, handle.decoder.timings};
}

bool& sideRunning(KvnHandle& handle, JobSide side) { return handle.timed_job_running[static_cast<int>(side)]; }

// Under the handle's timing lock.
void clearIdleSide(KvnHandle& handle, JobSide side, const CoreDeviceOps& ops) {
    if (sideRunning(handle, side)) return;
    const SideLists lists = sideLists(handle, side);
    resolvePendingTimings(ops, lists.pending, lists.timings);
    lists.timings.clear();
}

constexpr JobSide kSides[] = {JobSide::Encoder, JobSide::Decoder};

}  // namespace

TimedJob::TimedJob(KvnHandle& handle, JobSide side) : handle_(handle), side_(side) {
    const CoreDeviceOps ops = backend().deviceOps();
    LockGuard guard(handle.timing_lock);
    for (JobSide s : kSides) clearIdleSide(handle, s, ops);
    sideRunning(handle, side) = true;
}

TimedJob::~TimedJob() {
    LockGuard guard(handle_.timing_lock);
    sideRunning(handle_, side_) = false;
}

void clearLastTimings(KvnHandle& handle) {
    const CoreDeviceOps ops = backend().deviceOps();
    LockGuard guard(handle.timing_lock);
    for (JobSide s : kSides) clearIdleSide(handle, s, ops);
}

uint64_t collectLastTimings(KvnHandle& handle, TimingEntry* buf, uint64_t cap) {
    const CoreDeviceOps ops = backend().deviceOps();
    LockGuard guard(handle.timing_lock);
    uint64_t copied = 0;
    uint64_t total = 0;
    for (JobSide s : kSides) {
        if (sideRunning(handle, s)) continue;
        const SideLists lists = sideLists(handle, s);
        resolvePendingTimings(ops, lists.pending, lists.timings);
        total += lists.timings.size();
        if (!buf) continue;
        const uint64_t n = std::min(lists.timings.size(), cap - copied);
        std::copy_n(lists.timings.items().begin(), n, buf + copied);
        copied += n;
    }
    return total;
}

}  // namespace kvn
