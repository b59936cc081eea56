#include "pipeline/device/core_device_ops.h"

namespace kvn {

CoreDeviceOps coreDeviceOpsFrom(const GpuOpsTable& ops) {
    return {
        .memFree = ops.memFree,
        .memFreeHost = ops.memFreeHost,
        .memGetInfo = ops.memGetInfo,
        .streamSynchronize = ops.streamSynchronize,
        .streamDestroy = ops.streamDestroy,
        .eventCreate = ops.eventCreate,
        .eventRecord = ops.eventRecord,
        .eventSynchronize = ops.eventSynchronize,
        .eventElapsedTime = ops.eventElapsedTime,
        .eventDestroy = ops.eventDestroy,
    };
}

}  // namespace kvn
