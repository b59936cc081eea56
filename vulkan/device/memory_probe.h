// A description of the chosen device's memory on standard error, printed at
// the end of bring-up when KVN_VK_MEM_PROBE is set.
#pragma once

#include <cstdint>
#include <string>

#include "vulkan/device/vulkan_api.h"

namespace kvn {

std::string formatVkMemoryProbe(const VkPhysicalDeviceMemoryProperties& memory, uint64_t max_storage_buffer_range);

void printVkMemoryProbe();

}  // namespace kvn
