#include "vulkan/device/gpu_ops.h"

#include "vulkan/device/streams.h"

namespace kvn {

namespace {

// Vulkan has no current context: the device is process-wide.
int32_t procCtxSetCurrent(void*) { return 0; }

int32_t procCtxGetCurrent(void** out) {
    *out = nullptr;
    return 0;
}

constexpr GpuOpsTable kEmptyTable = [] {
    GpuOpsTable table{};
    table.ctxSetCurrent = procCtxSetCurrent;
    table.ctxGetCurrent = procCtxGetCurrent;
    table.timestamp_period = 1.0f;
    return table;
}();

GpuOpsTable g_gpu_ops = kEmptyTable;

}  // namespace

GpuOpsTable& gpuOps() { return g_gpu_ops; }

void fillGpuOps() {
    g_gpu_ops.streamCreate = procStreamCreate;
}

void clearGpuOps() { g_gpu_ops = kEmptyTable; }

}  // namespace kvn
