#include "pipeline/encode/wrt_encode_debug.h"

#include <cstdio>

#include "core/platform/platform.h"

namespace kvn {

bool wrtEncodeDebugOn() { return envPresent("KVN_WRT_DEBUG"); }

void printWrtBuffersEnsured(uint64_t segments) {
    std::fprintf(stderr, "[wrt-vk] buffers ensured (n_shards=%llu)\n", static_cast<unsigned long long>(segments));
}
void printWrtRawH2d(double ms) { std::fprintf(stderr, "[wrt-vk] raw H2D: %.2f ms\n", ms); }
void printWrtLaunchingCount() { std::fputs("[wrt-vk] launching count\n", stderr); }
void printWrtCountDone() { std::fputs("[wrt-vk] count done\n", stderr); }
void printWrtLaunchingCompact() { std::fputs("[wrt-vk] launching compact\n", stderr); }
void printWrtCompactDone() { std::fputs("[wrt-vk] compact done\n", stderr); }
void printWrtCountCompactTime(double ms) {
    std::fprintf(stderr, "[wrt-vk] h2d+memset+count+compact: %.2f ms\n", ms);
}
void printWrtCandidateCount(uint64_t candidates) {
    std::fprintf(stderr, "[wrt-vk] n_cand raw=%llu\n", static_cast<unsigned long long>(candidates));
}

void printWrtCandidates(uint64_t candidates, const uint8_t* lengths, const uint32_t* counts) {
    char line[256];
    int at = std::snprintf(line, sizeof line, "[wrt-vk] n_cand=%llu lens[0..8]={ ",
                           static_cast<unsigned long long>(candidates));
    for (uint64_t i = 0; i < candidates && i < 8; ++i)
        at += std::snprintf(line + at, sizeof line - at, i ? ", %u" : "%u", unsigned{lengths[i]});
    at += std::snprintf(line + at, sizeof line - at, " } counts[0..4]={ ");
    for (uint64_t i = 0; i < candidates && i < 4; ++i)
        at += std::snprintf(line + at, sizeof line - at, i ? ", %u" : "%u", counts[i]);
    std::snprintf(line + at, sizeof line - at, " }\n");
    std::fputs(line, stderr);
}

void printWrtLaunchingAssign(uint32_t codes) { std::fprintf(stderr, "[wrt-vk] launching assign (n_codes=%u)\n", codes); }
void printWrtLaunchingEncode() { std::fputs("[wrt-vk] launching encode\n", stderr); }
void printWrtEncodeDone() { std::fputs("[wrt-vk] encode done\n", stderr); }
void printWrtAssignEncodeTime(double ms) { std::fprintf(stderr, "[wrt-vk] assign+encode: %.2f ms\n", ms); }
void printWrtLaunchingGather() { std::fputs("[wrt-vk] launching gather\n", stderr); }
void printWrtGatherTime(double ms) { std::fprintf(stderr, "[wrt-vk] gather: %.2f ms\n", ms); }

}  // namespace kvn
