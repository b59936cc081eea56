// The standard-error lines of the Vulkan bring-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvn {

// "[vk-init] FAILED: <step>", only when KVN_VK_INIT_DEBUG is set.
void reportInitFailure(const char* step);

// The refusal of a device that cannot run 32-lane subgroups; printed always.
std::string unsupportedSubgroupSizeText(std::string_view device_name, uint32_t min_size, uint32_t max_size);
void reportUnsupportedSubgroupSize(std::string_view device_name, uint32_t min_size, uint32_t max_size);

void printTransferQueue(uint32_t family, uint32_t queue_flags, bool separate_family);

}  // namespace kvn
