#include "cuda/device/kernel_table.h"

#include <atomic>

#include "core/platform/platform.h"

namespace kvn {
namespace {

constexpr KernelParams kKernelParams[] = {
#include "kernel_param_table.inc"
};

// Written by the bring-up steps (the decode and the encode modules load
// under locks of their own, so writers take this one), read by any launch
// without a lock: an entry is complete before the count that publishes it.
constexpr uint32_t kMaxKernels = 128;
struct Remembered {
    KernelHandle kernel;
    const KernelParams* params;
};
ExclusiveLock g_remember_lock;
Remembered g_remembered[kMaxKernels];
std::atomic<uint32_t> g_remembered_count{0};

}  // namespace

const KernelParams* kernelParamsByName(std::string_view name) {
    for (const KernelParams& params : kKernelParams)
        if (name == params.name) return &params;
    return nullptr;
}

void rememberKernel(KernelHandle kernel, const char* name) {
    const LockGuard guard(g_remember_lock);
    const uint32_t count = g_remembered_count.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < count; ++i)
        if (g_remembered[i].kernel == kernel) return;
    if (count == kMaxKernels) return;
    g_remembered[count] = {kernel, kernelParamsByName(name)};
    g_remembered_count.store(count + 1, std::memory_order_release);
}

const KernelParams* kernelParamsOf(KernelHandle kernel) {
    const uint32_t count = g_remembered_count.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < count; ++i)
        if (g_remembered[i].kernel == kernel) return g_remembered[i].params;
    return nullptr;
}

}  // namespace kvn
