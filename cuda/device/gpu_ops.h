// The device-operations table filled with the bound driver calls.
#pragma once

#include "pipeline/device/device_ops.h"

namespace kvn {

// Called by the bring-up once the driver is bound and the context exists.
void fillGpuOps();

}  // namespace kvn
