// KVN_L2_PERSIST: the greedy LZ tables in the persisting part of the L2
// cache while a frame's LZ launches run, through a persisting limit on the
// context and an access-policy window on the stream of the launches. The first window
// of the process is reported on standard error.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "core/platform/platform.h"
#include "cuda/device/cuda_context.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// The most the limit asks for, and its share of the cache.
constexpr uint64_t kMaxPersistingBytes = 0x1600000;
constexpr double kMiB = 1024.0 * 1024.0;

std::atomic<bool> g_reported{false};

CuResult setWindow(const CudaFunctions& cu, StreamHandle stream, const CuAccessPolicyWindow& window) {
    CuStreamAttributeValue value{};
    value.access_policy_window = window;
    return cu.cuStreamSetAttribute(reinterpret_cast<CuStream>(stream), kCuStreamAttributeAccessPolicyWindow, &value);
}

}  // namespace

bool openLzTableWindow(StreamHandle stream, DeviceBufferHandle tables, uint64_t bytes) {
    const CudaContext& ctx = cudaContext();
    const CudaFunctions& cu = ctx.cu;
    if (!envPresent("KVN_L2_PERSIST") || !cu.cuCtxSetLimit || !cu.cuStreamSetAttribute || bytes == 0) return false;
    const uint64_t limit = std::min({l2BytesOrDefault(ctx) * 11 / 16, bytes, kMaxPersistingBytes});
    const CuResult limit_rc = cu.cuCtxSetLimit(kCuLimitPersistingL2CacheSize, size_t(limit));
    const float hit_ratio = std::min(float(double(limit) / double(bytes)), 1.0f);
    const CuResult window_rc =
        setWindow(cu, stream, {tables, size_t(bytes), hit_ratio, kCuAccessPropertyPersisting, kCuAccessPropertyNormal});
    if (!g_reported.exchange(true))
        std::fprintf(stderr, "l2-persist: set_limit rc=%d (%.2f MB) window rc=%d (%.2f MB, hitRatio %.3f)\n",
                     int(limit_rc), double(limit) / kMiB, int(window_rc), double(bytes) / kMiB, double(hit_ratio));
    return true;
}

// A zeroed window: the stream's later work is cached as usual.
void closeLzTableWindow(StreamHandle stream) {
    const CudaFunctions& cu = cudaContext().cu;
    if (cu.cuStreamSetAttribute) setWindow(cu, stream, CuAccessPolicyWindow{});
}

}  // namespace kvn
