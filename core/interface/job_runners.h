// How the exported calls run a job: on a new joined worker thread with a
// 32 MiB stack (the host-memory calls; the encode and decode drivers keep
// large working records on the stack), or on the caller's thread (the calls
// on device memory). Each returns the job's result.
#pragma once

#include <cstdint>

#include "core/jobs.h"

namespace kvn {

// -7 when the thread cannot be started; the job then does not run.
int32_t runCompressOnWorkerThread(CompressJob* job);
int32_t runDecodeOnWorkerThread(DecompressJob* job);

int32_t runCompressOnCallerThread(CompressJob* job);
int32_t runDeviceDecodeOnCallerThread(DeviceDecompressJob* job);

}  // namespace kvn
