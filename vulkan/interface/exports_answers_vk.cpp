// Vulkan family: timings, verdict, bound, version and the device's name.
#include <algorithm>
#include <cstring>

#include "core/format/compress_bound.h"
#include "core/interface/interface_support.h"
#include "core/interface/last_verdict.h"
#include "core/timing/last_timings.h"
#include "vulkan/device/vulkan_context.h"

using namespace kvn;

extern "C" {

KVN_API uint64_t kvnGetLastTimings_vk(void* handle, TimingEntry* buf, uint64_t cap) {
    return handle ? collectLastTimings(*asHandle(handle), buf, cap) : 0;
}

KVN_API KvnStatus kvnGetLastVerdict_vk(void* handle) { return lastVerdictStatus(handle); }

KVN_API uint64_t kvnCompressBound_vk(uint64_t n) { return compressBound(n); }

KVN_API const char* kvnGetVersionString_vk(void) { return "3.3.0+vk"; }

KVN_API uint64_t kvnVkBoundDeviceName(char* buf, uint64_t cap) {
    if (!buf || cap == 0) return 0;
    const VulkanContext& ctx = vulkanContext();
    const uint64_t n = std::min<uint64_t>(cap, ctx.device_name_length);
    std::memcpy(buf, ctx.device_name, n);
    return n;
}

}  // extern "C"
