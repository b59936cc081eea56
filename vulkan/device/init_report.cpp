#include "vulkan/device/init_report.h"

#include <cstdio>

#include "core/platform/platform.h"

namespace kvn {

void reportInitFailure(const char* step) {
    if (envPresent("KVN_VK_INIT_DEBUG")) std::fprintf(stderr, "[vk-init] FAILED: %s\n", step);
}

std::string unsupportedSubgroupSizeText(std::string_view device_name, uint32_t min_size, uint32_t max_size) {
    std::string text = "[VK_INIT] unsupported device '";
    text += device_name;
    text += "': subgroupSize range [" + std::to_string(min_size) + ", " + std::to_string(max_size) +
            "] \u2014 this codec requires subgroupSize 32.\n"
            "Supported GPUs: NVIDIA (Turing or newer), AMD RDNA1 or newer (RX 5000+; wave64-only GCN parts such as "
            "Polaris/Vega are not supported), Intel Xe/Arc.\n"
            "If another GPU is present, select it with --device <N|name> (see --probe).\n";
    return text;
}

void reportUnsupportedSubgroupSize(std::string_view device_name, uint32_t min_size, uint32_t max_size) {
    // One write, so that the lines stay together when threads print at once.
    const std::string text = unsupportedSubgroupSizeText(device_name, min_size, max_size);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void printTransferQueue(uint32_t family, uint32_t queue_flags, bool separate_family) {
    std::fprintf(stderr, "[VK_INIT] transfer queue: qf=%u flags=0x%x dedicated=%s\n", family, queue_flags,
                 separate_family ? "true" : "false");
}

}  // namespace kvn
