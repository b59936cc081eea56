#include "cuda/interface/device_decode_job.h"

#include "core/handle/handle.h"
#include "korvane.h"
#include "pipeline/decode/device_decode.h"
#include "pipeline/device/device_ops.h"

namespace kvn {
namespace {

constexpr int32_t kOutOfMemoryResult = -int32_t{KVN_STATUS_OUT_OF_MEMORY};

// The encoder keeps its buffers between compress calls; a decode that ran
// out of memory may find room once they are gone.
bool encoderHoldsDeviceMemory(const EncoderState& encoder) {
    for (const DeviceBuffer& buffer : encoder.device_buffers)
        if (buffer.capacity != 0) return true;
    return false;
}

}  // namespace

void runCudaDeviceDecodeJob(DeviceDecompressJob* job) {
    decodeDeviceFrames(job);
    KvnHandle& handle = *job->handle;
    if (job->result != kOutOfMemoryResult || !encoderHoldsDeviceMemory(handle.encoder)) return;
    // Nothing queued may still use the buffers that are about to go; a
    // device that cannot say so keeps them, and the call its shortage.
    const GpuOpsTable& ops = gpuOps();
    if (!ops.ctxSynchronize || ops.ctxSynchronize() != Error::None) return;
    releaseEncoderBuffers(handle.encoder);
    releaseDecoderBuffers(handle.decoder);
    job->result = kJobNotRun;
    job->fallback = 0;
    decodeDeviceFrames(job);
}

}  // namespace kvn
