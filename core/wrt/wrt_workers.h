// Fan-out of the WRT steps: ranges of work run on short-lived threads with
// 16 MiB stacks while the calling thread takes range 0. No pool, no locks:
// each range owns its record and writes only what the range covers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kvn {

inline constexpr uint32_t kWrtMaxWorkers = 16;

// Threads for a WRT step on a machine with `processors` logical processors.
inline uint32_t wrtWorkerCount(uint32_t processors) { return std::clamp(processors, 1u, kWrtMaxWorkers); }

// Ranges over `segment_count` segments for `threads` threads: each range
// gets at least kWrtMinSegmentsPerRange segments (64 KiB of text), below
// which starting a thread costs more than it saves. The split never changes
// what the ranges produce.
inline constexpr uint64_t kWrtMinSegmentsPerRange = 16;
inline uint32_t wrtSegmentRanges(uint32_t threads, uint64_t segment_count) {
    return uint32_t(std::clamp<uint64_t>(segment_count / kWrtMinSegmentsPerRange, 1, wrtWorkerCount(threads)));
}

// What to do with a range whose thread cannot be started.
enum class UnstartedRange {
    RunHere,  // the calling thread runs it after range 0
    Abandon,  // stop: join what runs and report that the step did not run
};

// Runs body(record i) for the `count` records (at most kWrtMaxWorkers) of
// `records`, each `stride` bytes apart. Returns false only with Abandon, when
// a thread could not be started; every started thread is joined either way.
bool runRanges(void* records, size_t stride, uint32_t count, void (*body)(void*), UnstartedRange unstarted);

template <typename Record>
bool runRanges(Record* records, uint32_t count, void (*body)(void*), UnstartedRange unstarted) {
    return runRanges(static_cast<void*>(records), sizeof(Record), count, body, unstarted);
}

}  // namespace kvn
