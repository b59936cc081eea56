#include "pipeline/decode/slot_trace.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>

#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// Process-wide byte counts of the decoder slots, for the trace only; kept
// without a lock.
uint64_t g_slot_total = 0;
uint64_t g_slot_peak = 0;

constexpr uint64_t kTracedRequest = 0x100000;

bool initDebugTrace() {
    return decodeDiagnostics().slot_trace == SlotTrace::InitDebug && envPresent("KVN_VK_INIT_DEBUG");
}

// Growths are traced when KVN_ALLOC_TRACE was set at the process's first
// one: the answer then holds for the whole process.
bool growthTraced() {
    static std::atomic<int> traced{-1};
    int answer = traced.load(std::memory_order_relaxed);
    if (answer < 0) {
        const int now = envPresent("KVN_ALLOC_TRACE") ? 1 : 0;
        answer = traced.compare_exchange_strong(answer, now) ? now : answer;
    }
    return answer == 1;
}

}  // namespace

void traceSlotRequest(uint64_t bytes) {
    if (bytes >= kTracedRequest && initDebugTrace())
        std::fprintf(stderr, "[vk-alloc] request %" PRIu64 " B (current total %" PRIu64 " B)\n", bytes, g_slot_total);
}

void countSlotFreed(uint64_t capacity) { g_slot_total -= capacity < g_slot_total ? capacity : g_slot_total; }

void traceSlotRefused(const DeviceSlot& slot, uint64_t bytes) {
    if (decodeDiagnostics().slot_trace == SlotTrace::InitDebug) {
        if (initDebugTrace())
            std::fprintf(stderr, "[vk-alloc] FAILED: %" PRIu64 " B refused (running total %" PRIu64 " B, peak %" PRIu64
                                 " B)\n",
                         bytes, g_slot_total, g_slot_peak);
        return;
    }
    if (!envPresent("KVN_ALLOC_TRACE")) return;
    const GpuOpsTable& ops = gpuOps();
    uint64_t free_bytes = 0, total = 0;
    if (!ops.memGetInfo || ops.memGetInfo(&free_bytes, &total) != Error::None) free_bytes = total = 0;
    std::fprintf(stderr, "[alloc-trace] FAILED slot@0x%" PRIxPTR " size=%" PRIu64 " (free=%" PRIu64 " total=%" PRIu64 ")\n",
                 reinterpret_cast<uintptr_t>(&slot), bytes, free_bytes, total);
}

void traceSlotGrown(const DeviceSlot& slot) {
    g_slot_total += slot.capacity;
    if (g_slot_total > g_slot_peak) g_slot_peak = g_slot_total;
    if (decodeDiagnostics().slot_trace == SlotTrace::AllocTrace && growthTraced())
        std::fprintf(stderr, "[alloc-trace] slot@0x%" PRIxPTR " base=0x%" PRIx64 " size=%" PRIu64 "\n",
                     reinterpret_cast<uintptr_t>(&slot), bufferDeviceAddress(slot.handle), slot.capacity);
}

}  // namespace kvn
