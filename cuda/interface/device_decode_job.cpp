#include "cuda/interface/device_decode_job.h"

#include "core/handle/handle.h"
#include "pipeline/decode/device_decode.h"
#include "pipeline/device/device_ops.h"

namespace kvn {
namespace {

constexpr int32_t kOutOfMemoryResult = -7;

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
    // Nothing queued may still use the buffers that are about to go.
    const GpuOpsTable& ops = gpuOps();
    if (ops.ctxSynchronize) ops.ctxSynchronize();
    releaseEncoderBuffers(handle.encoder);
    releaseDecoderBuffers(handle.decoder);
    job->result = kJobNotRun;
    job->fallback = 0;
    decodeDeviceFrames(job);
}

}  // namespace kvn
