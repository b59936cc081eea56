// The timings of a handle's last call, as the interface hands them out.
#pragma once

#include <cstdint>

#include "korvane.h"

struct KvnHandle;

namespace kvn {

enum class JobSide : uint8_t { Encoder = 0, Decoder = 1 };

// Marks a job of one side running on the handle for its lifetime. Its start
// resolves and empties its own side's lists, and the other side's too unless
// a job of that side runs: the asynchronous compress and decompress of one
// handle overlap, and each side's lists belong to its running job alone.
class TimedJob {
public:
    TimedJob(KvnHandle& handle, JobSide side);
    ~TimedJob();
    TimedJob(const TimedJob&) = delete;
    TimedJob& operator=(const TimedJob&) = delete;

private:
    KvnHandle& handle_;
    JobSide side_;
};

// Resolves both sides' pending pairs and then empties both timing lists, so
// that a new job's timings describe that job alone; a side whose job runs is
// left alone.
void clearLastTimings(KvnHandle& handle);

// Resolves the encoder's pending pairs and then the decoder's; copies at most
// cap entries, encoder entries first, when buf is not null; returns the
// number of entries of both lists. A side whose job still runs has none yet.
uint64_t collectLastTimings(KvnHandle& handle, TimingEntry* buf, uint64_t cap);

}  // namespace kvn
