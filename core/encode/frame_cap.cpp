#include "core/encode/frame_cap.h"

#include <algorithm>
#include <optional>

#include "core/encode/level_table.h"
#include "core/platform/platform.h"

namespace kvn {
namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kHalfGiB = uint64_t{1} << 29;
constexpr uint64_t kFallbackCap = kHalfGiB;
constexpr uint64_t kIntegratedLevel5Cap = uint64_t{64} << 20;
constexpr int32_t kChainLevel = 5;

}  // namespace

FrameCap frameCap(int32_t level, uint64_t chunk, const char* env_cap, const FrameCapDevice& device) {
    const uint64_t most = chunk * device.max_chunks;
    const std::optional<uint64_t> asked = env_cap ? parseDecimal(env_cap, UINT64_MAX) : std::nullopt;
    if (asked && *asked >= chunk) return {std::min(*asked - *asked % chunk, most), false};
    if (device.local_heap != 0) {
        uint64_t p = device.local_heap / kGiB * kHalfGiB / levelParams(level).frame_cap_divisor;
        if (device.binding_limit != 0) p = std::min(p, device.binding_limit / 4);
        const bool integrated_limit = level == kChainLevel && device.integrated && p > kIntegratedLevel5Cap;
        if (integrated_limit) p = kIntegratedLevel5Cap;
        p -= p % chunk;
        if (p >= chunk) return {std::min(p, most), integrated_limit};
    }
    return {std::min(most, kFallbackCap), false};
}

}  // namespace kvn
