#include "vulkan/device/device_choice.h"

#include <algorithm>
#include <cstring>

#include "core/platform/platform.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

int typeScore(VkPhysicalDeviceType type) {
    switch (type) {
        case VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU: return 4;
        case VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU: return 3;
        case VK_PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU: return 2;
        case VK_PHYSICAL_DEVICE_TYPE_CPU: return 1;
        default: return 0;
    }
}

bool hasComputeFamily(const VulkanFunctions& vk, VkPhysicalDevice device) {
    VkQueueFamilyProperties families[kMaxQueueFamilies];
    uint32_t count = kMaxQueueFamilies;
    vk.vkGetPhysicalDeviceQueueFamilyProperties(device, &count, families);
    for (uint32_t i = 0; i < count && i < kMaxQueueFamilies; ++i)
        if ((families[i].queueFlags & VK_QUEUE_COMPUTE_BIT) && families[i].queueCount != 0) return true;
    return false;
}

}  // namespace

std::optional<uint32_t> chooseDeviceIndex(std::span<const DeviceCandidate> devices,
                                          std::optional<uint32_t> forced_index) {
    // A forced index never falls back to the automatic choice.
    if (forced_index) {
        if (*forced_index < devices.size() && devices[*forced_index].has_compute_family) return forced_index;
        return std::nullopt;
    }
    std::optional<uint32_t> best;
    int best_score = -1;
    for (uint32_t i = 0; i < devices.size(); ++i) {
        const DeviceCandidate& d = devices[i];
        if (!d.has_compute_family || !d.properties_known) continue;
        if (typeScore(d.type) > best_score) {
            best = i;
            best_score = typeScore(d.type);
        }
    }
    return best;
}

std::optional<VkPhysicalDevice> pickPhysicalDeviceFromList(const VulkanFunctions& vk, const VkPhysicalDevice* devices,
                                                           uint32_t count) {
    DeviceCandidate candidates[kMaxPhysicalDevices];
    count = std::min(count, kMaxPhysicalDevices);
    for (uint32_t i = 0; i < count; ++i) {
        if (!devices[i]) continue;
        candidates[i].has_compute_family = hasComputeFamily(vk, devices[i]);
        if (vk.vkGetPhysicalDeviceProperties) {
            VkPhysicalDeviceProperties properties{};
            vk.vkGetPhysicalDeviceProperties(devices[i], &properties);
            candidates[i].properties_known = true;
            candidates[i].type = properties.deviceType;
        }
    }
    const std::optional<uint32_t> index = chooseDeviceIndex({candidates, count}, envInteger("KVN_VK_DEVICE_INDEX", UINT32_MAX));
    if (!index) return std::nullopt;
    return devices[*index];
}

bool hasDeviceExtension(const VulkanFunctions& vk, VkPhysicalDevice device, const char* name) {
    if (!vk.vkEnumerateDeviceExtensionProperties) return false;
    VkExtensionProperties extensions[256];
    uint32_t count = 256;
    const VkResult result = vk.vkEnumerateDeviceExtensionProperties(device, nullptr, &count, extensions);
    if (result != VK_SUCCESS && result != VK_INCOMPLETE) return false;
    for (uint32_t i = 0; i < count && i < 256; ++i)
        if (strncmp(extensions[i].extensionName, name, VK_MAX_EXTENSION_NAME_SIZE) == 0) return true;
    return false;
}

}  // namespace kvn
