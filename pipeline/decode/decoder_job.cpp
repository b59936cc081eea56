#include "pipeline/decode/decoder_job.h"

#include "pipeline/device/backend_hooks.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

bool deviceCurrent() {
    const GpuOpsTable& ops = gpuOps();
    return ensureDevice() && ops.ctxSetCurrent && ops.ctxSetCurrent(nullptr) == Error::None;
}

DecoderJobScope::DecoderJobScope(KvnHandle& handle, const DecompressOpts& opts)
    : decoder_(handle.decoder), timed_(handle, JobSide::Decoder) {
    decoder_.record_timings = opts.record_timings != 0;
}

DecoderJobScope::~DecoderJobScope() { decoder_.record_timings = false; }

}  // namespace kvn
