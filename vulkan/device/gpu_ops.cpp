#include "vulkan/device/gpu_ops.h"

#include "vulkan/device/copies.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/events.h"
#include "vulkan/device/fills.h"
#include "vulkan/device/host_allocations.h"
#include "vulkan/device/kernel_launch.h"
#include "vulkan/device/stream_sync.h"
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
    GpuOpsTable& t = g_gpu_ops;
    t.memAlloc = procMemAlloc;
    t.memFree = procMemFree;
    t.memcpyHtoD = procMemcpyHtoD;
    t.memcpyDtoH = procMemcpyDtoH;
    t.memcpyDtoHSrcOffset = procMemcpyDtoHSrcOffset;
    t.memcpyDtoHGather = procMemcpyDtoHGather;
    t.memcpyHtoDAsync = procMemcpyHtoDAsync;
    t.memcpyDtoHAsync = procMemcpyDtoHAsync;
    t.memcpyDtoDAsync = procMemcpyDtoDAsync;
    t.memcpyDtoDSrcOffsetAsync = procMemcpyDtoDSrcOffsetAsync;
    t.memcpyDtoDSrcOffsetTransferAsync = procMemcpyDtoDSrcOffsetTransferAsync;
    t.memcpyDtoDDstOffsetAsync = procMemcpyDtoDDstOffsetAsync;
    t.memGetInfo = procMemGetInfo;
    t.memsetD8 = procMemsetD8;
    t.memsetD8Async = procMemsetD8Async;
    t.memAllocHost = procMemAllocHost;
    t.memFreeHost = procMemFreeHost;
    t.streamSynchronize = procStreamSynchronize;
    t.streamFlushTransfer = procStreamFlushTransfer;
    t.ctxSynchronize = procCtxSynchronize;
    t.streamCreate = procStreamCreate;
    t.streamDestroy = procStreamDestroy;
    t.eventCreate = procEventCreate;
    t.eventRecord = procEventRecord;
    t.eventSynchronize = procEventSynchronize;
    t.eventElapsedTime = procEventElapsedTime;
    t.eventDestroy = procEventDestroy;
    t.launchKernel = procLaunchKernel;
    t.streamComputeBarrier = procStreamComputeBarrier;
    t.streamSwitchToAux = procStreamSwitchToAux;
    t.memcpyDtoHXferAsync = procMemcpyDtoHXferAsync;
}

void clearGpuOps() { g_gpu_ops = kEmptyTable; }

}  // namespace kvn
