#include "vulkan/interface/device_only_handles.h"

#include <atomic>

namespace kvn {
namespace {

constexpr uint64_t kDeviceOnlyGranule = 4096;
constexpr uint64_t kDeviceOnlyWindowEnd = kDeviceOnlyWindowStart + kDeviceOnlyWindowBytes;

std::atomic<uint64_t> g_next_device_only{kDeviceOnlyWindowStart};

}  // namespace

Error takeDeviceOnlyRange(uint64_t size, uint64_t* out) {
    // Compared with the window first, so that rounding up cannot wrap.
    if (size > kDeviceOnlyWindowBytes) return Error::OutOfMemory;
    const uint64_t step = size <= kDeviceOnlyGranule ? kDeviceOnlyGranule
                                                     : (size + kDeviceOnlyGranule - 1) / kDeviceOnlyGranule * kDeviceOnlyGranule;
    uint64_t value = g_next_device_only.load(std::memory_order_relaxed);
    do {
        if (step > kDeviceOnlyWindowEnd - value) return Error::OutOfMemory;
    } while (!g_next_device_only.compare_exchange_weak(value, value + step, std::memory_order_relaxed));
    *out = value;
    return Error::None;
}

}  // namespace kvn
