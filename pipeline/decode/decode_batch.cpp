#include "pipeline/decode/decode_batch.h"

#include <cinttypes>
#include <cstdio>

#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// Process-wide byte counts of the decoder slots, for the allocation trace
// only; kept without a lock.
uint64_t g_slot_total = 0;
uint64_t g_slot_peak = 0;

Error checkCall(Error result, const char* what, Error kind) {
    if (result == Error::None) return Error::None;
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
    const bool trace = envPresent("KVN_VK_INIT_DEBUG");
    if (trace && bytes >= 0x100000)
        std::fprintf(stderr, "[vk-alloc] request %" PRIu64 " B (current total %" PRIu64 " B)\n", bytes, g_slot_total);
    if (slot.handle != 0) {
        ops.memFree(slot.handle);
        g_slot_total -= slot.capacity < g_slot_total ? slot.capacity : g_slot_total;
    }
    slot = {0, 0};
    uint64_t handle = 0;
    const Error allocated = ops.memAlloc(&handle, bytes);
    if (allocated != Error::None || handle == 0) {
        if (trace)
            std::fprintf(stderr, "[vk-alloc] FAILED: %" PRIu64 " B refused (running total %" PRIu64 " B, peak %" PRIu64
                                 " B)\n",
                         bytes, g_slot_total, g_slot_peak);
        return allocated == Error::None ? Error::OutOfDeviceMemory : allocated;
    }
    slot = {handle, bytes};
    g_slot_total += bytes;
    if (g_slot_total > g_slot_peak) g_slot_peak = g_slot_total;
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
