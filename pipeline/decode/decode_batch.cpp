#include "pipeline/decode/decode_batch.h"

#include <cstdio>

#include "pipeline/decode/slot_trace.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

Error checkCall(Error result, const char* what, Error kind) {
    if (result == Error::None) return Error::None;
    if (decodeDiagnostics().call_warnings)
        std::fprintf(stderr, "warning: vkCall(%s) failed: %s\n", what, errorName(result));
    return result == Error::DeviceCallFailed ? kind : result;
}

}  // namespace

Error ensureDeviceSlot(DeviceSlot& slot, uint64_t bytes) {
    // A slot grown past what a binding reaches (by a frame that then failed)
    // would fail every later launch that binds it: it gives way to one of the
    // asked size.
    const uint64_t limit = deviceBindingLimit();
    if (slot.capacity >= bytes && slot.handle != 0 && !(slot.capacity > limit && bytes <= limit)) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memAlloc || !ops.memFree) return Error::BackendNotAvailable;
    traceSlotRequest(bytes);
    if (slot.handle != 0) {
        ops.memFree(slot.handle);
        countSlotFreed(slot.capacity);
    }
    slot = {0, 0};
    uint64_t handle = 0;
    const Error allocated = ops.memAlloc(&handle, bytes);
    if (allocated != Error::None || handle == 0) {
        traceSlotRefused(slot, bytes);
        return allocated == Error::None ? Error::OutOfDeviceMemory : allocated;
    }
    slot = {handle, bytes};
    traceSlotGrown(slot);
    return Error::None;
}

uint64_t descCounterAt(uint32_t cell) {
    return uint64_t(cell) * (kernelsTakeCudaForms() ? 4 : KVN_DESC_COUNTER_CELL_BYTES);
}

Error checkCopy(Error result) { return checkCall(result, "copy", Error::CopyFailed); }
Error checkLaunch(Error result) { return checkCall(result, "launch", Error::KernelLaunchFailed); }
Error checkSync(Error result) { return checkCall(result, "sync", Error::SyncFailed); }

Error computeBarrier(StreamHandle stream) {
    const GpuOpsTable& ops = gpuOps();
    return ops.streamComputeBarrier ? checkSync(ops.streamComputeBarrier(stream)) : Error::None;
}

}  // namespace kvn
