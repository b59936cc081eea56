// What every decode job does on its handle's decoder before and after its
// frames: the device up and current on the job's thread, the job's timings,
// and the timing flag for the job's duration.
#pragma once

#include "core/handle/handle.h"
#include "core/options.h"
#include "core/timing/last_timings.h"

namespace kvn {

// The device is up and its context current on the calling thread.
bool deviceCurrent();

class DecoderJobScope {
public:
    DecoderJobScope(KvnHandle& handle, const DecompressOpts& opts);
    ~DecoderJobScope();
    DecoderJobScope(const DecoderJobScope&) = delete;
    DecoderJobScope& operator=(const DecoderJobScope&) = delete;

private:
    DecoderState& decoder_;
    TimedJob timed_;
};

}  // namespace kvn
