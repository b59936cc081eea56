#include "vulkan/device/gpu_ops.h"

#include "vulkan/device/copies.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/events.h"
#include "vulkan/device/fills.h"
#include "vulkan/device/host_allocations.h"
#include "vulkan/device/kernel_launch.h"
#include "vulkan/device/stream_sync.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vk_errors.h"

namespace kvn {

namespace {

// Every slot passes through the wedge check and speaks the named errors:
// once a fence wait gave up on submitted work, work is refused as DeviceLost,
// and releases do nothing (report success), since the device may still use
// what they free.
template <auto Operation>
struct Gated;

template <typename... Args, int32_t (*Operation)(Args...)>
struct Gated<Operation> {
    static Error work(Args... args) {
        return deviceWedged() ? Error::DeviceLost : errorFromVkResult(Operation(args...));
    }
    static Error release(Args... args) {
        return deviceWedged() ? Error::None : errorFromVkResult(Operation(args...));
    }
};

// Vulkan has no current context: the device is process-wide.
Error procCtxSetCurrent(void*) { return Error::None; }

Error procCtxGetCurrent(void** out) {
    *out = nullptr;
    return Error::None;
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
    t.memAlloc = Gated<procMemAlloc>::work;
    t.memFree = Gated<procMemFree>::release;
    t.memcpyHtoD = Gated<procMemcpyHtoD>::work;
    t.memcpyDtoH = Gated<procMemcpyDtoH>::work;
    t.memcpyDtoHSrcOffset = Gated<procMemcpyDtoHSrcOffset>::work;
    t.memcpyDtoHGather = Gated<procMemcpyDtoHGather>::work;
    t.memcpyHtoDAsync = Gated<procMemcpyHtoDAsync>::work;
    t.memcpyDtoHAsync = Gated<procMemcpyDtoHAsync>::work;
    t.memcpyDtoDAsync = Gated<procMemcpyDtoDAsync>::work;
    t.memcpyDtoDSrcOffsetAsync = Gated<procMemcpyDtoDSrcOffsetAsync>::work;
    t.memcpyDtoDSrcOffsetTransferAsync = Gated<procMemcpyDtoDSrcOffsetTransferAsync>::work;
    t.memcpyDtoDDstOffsetAsync = Gated<procMemcpyDtoDDstOffsetAsync>::work;
    t.memGetInfo = Gated<procMemGetInfo>::work;
    t.memsetD8 = Gated<procMemsetD8>::work;
    t.memsetD8Async = Gated<procMemsetD8Async>::work;
    t.memAllocHost = Gated<procMemAllocHost>::work;
    t.memFreeHost = Gated<procMemFreeHost>::release;
    t.streamSynchronize = Gated<procStreamSynchronize>::work;
    t.streamFlushTransfer = Gated<procStreamFlushTransfer>::work;
    t.ctxSynchronize = Gated<procCtxSynchronize>::work;
    t.streamCreate = Gated<procStreamCreate>::work;
    t.streamDestroy = Gated<procStreamDestroy>::release;
    t.eventCreate = Gated<procEventCreate>::work;
    t.eventRecord = Gated<procEventRecord>::work;
    t.eventSynchronize = Gated<procEventSynchronize>::work;
    t.eventElapsedTime = Gated<procEventElapsedTime>::work;
    t.eventDestroy = Gated<procEventDestroy>::release;
    t.launchKernel = Gated<procLaunchKernel>::work;
    t.streamComputeBarrier = Gated<procStreamComputeBarrier>::work;
    t.streamSwitchToAux = Gated<procStreamSwitchToAux>::work;
    t.memcpyDtoHXferAsync = Gated<procMemcpyDtoHXferAsync>::work;
}

void clearGpuOps() { g_gpu_ops = kEmptyTable; }

}  // namespace kvn
