// The decode job of device-resident input into device memory, on the
// caller's thread: a loop over the frames, each walked and decoded on the
// device. Inputs this road does not take set the job's fallback flag.
#pragma once

#include "core/jobs.h"

namespace kvn {

void decodeDeviceFrames(DeviceDecompressJob* job);

}  // namespace kvn
