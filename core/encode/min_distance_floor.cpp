#include "core/encode/min_distance_floor.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "core/platform/platform.h"

namespace kvn {
namespace {

std::atomic<bool> g_min_dist_notice_printed{false};

}  // namespace

uint32_t minDistanceFloor(uint32_t requested, bool gateless, const char* notice) {
    uint32_t floor = requested;
    if (floor <= kDefaultMinDistance) {
        const std::optional<uint64_t> env = envInteger("KVN_MIN_DIST", UINT32_MAX);
        floor = env && *env > kDefaultMinDistance ? static_cast<uint32_t>(*env) : kDefaultMinDistance;
    }
    floor = std::min(floor, kMaxMinDistance);
    if (gateless && floor > kDefaultMinDistance) {
        if (!g_min_dist_notice_printed.exchange(true)) std::fprintf(stderr, "%s\n", notice);
        floor = kDefaultMinDistance;
    }
    return floor;
}

}  // namespace kvn
