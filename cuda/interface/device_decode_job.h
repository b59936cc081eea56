// The CUDA library's body of a device-input decode job: the shared device
// road, run once more after an out-of-memory failure when the handle's
// encoder held device memory that the retry can use.
#pragma once

#include "core/jobs.h"

namespace kvn {

void runCudaDeviceDecodeJob(DeviceDecompressJob* job);

}  // namespace kvn
