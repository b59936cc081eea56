// The CUDA library's side of the shared interface code: the bring-up, the
// device operations and the job bodies of the shared pipelines.
#include "core/interface/backend.h"
#include "pipeline/device/core_device_ops.h"
#include "cuda/device/cuda_context.h"
#include "cuda/interface/device_decode_job.h"
#include "pipeline/decode/frame_loop.h"
#include "pipeline/encode/compress_job.h"
#include "pipeline/encode/encode_kernels.h"

namespace kvn {
namespace {

// The encode bring-up runs the decode bring-up first.
bool bringUpCuda() { return ensureEncodePipelines(); }

CoreDeviceOps cudaDeviceOps() { return coreDeviceOpsFrom(gpuOps()); }

}  // namespace

Backend& backend() {
    static Backend cuda_backend{
        .bringUp = bringUpCuda,
        .deviceOps = cudaDeviceOps,
        .runCompressJob = runCompressJob,
        .runDecodeJob = decodeFramesWorker,
        .runDeviceDecodeJob = runCudaDeviceDecodeJob,
    };
    return cuda_backend;
}

}  // namespace kvn
