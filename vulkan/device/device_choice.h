// Which physical device the library runs on, and what it offers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "vulkan/device/vulkan_api.h"

namespace kvn {

struct VulkanFunctions;

// What the choice needs to know of one enumerated device.
struct DeviceCandidate {
    bool has_compute_family = false;  // a family with the compute bit and at least one queue
    bool properties_known = false;    // its properties could be read
    VkPhysicalDeviceType type = VK_PHYSICAL_DEVICE_TYPE_OTHER;
};

// The device choice as a pure function. With a forced index (from
// KVN_VK_DEVICE_INDEX) only that device is acceptable; otherwise the best
// type (discrete > integrated > virtual > CPU > other) among the devices with
// a compute family and readable properties, the first enumerated on a tie.
std::optional<uint32_t> chooseDeviceIndex(std::span<const DeviceCandidate> devices,
                                          std::optional<uint32_t> forced_index);

// The choice among the enumerated devices, KVN_VK_DEVICE_INDEX included.
std::optional<VkPhysicalDevice> pickPhysicalDeviceFromList(const VulkanFunctions& vk, const VkPhysicalDevice* devices,
                                                           uint32_t count);

// Whether the device offers the extension (at most 256 entries are read).
bool hasDeviceExtension(const VulkanFunctions& vk, VkPhysicalDevice device, const char* name);

}  // namespace kvn
