// The few device operations the core calls itself, taken from the table.
#pragma once

#include "core/interface/backend.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// The table's current slots, as each library's Backend hands them to the core.
CoreDeviceOps coreDeviceOpsFrom(const GpuOpsTable& ops);

}  // namespace kvn
