#include <algorithm>

#include "core/platform/platform.h"
#include "vulkan/device/bring_up_steps.h"
#include "vulkan/device/device_choice.h"
#include "vulkan/device/init_report.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

bool fail(const char* step) {
    reportInitFailure(step);
    return false;
}

bool chooseQueueFamilies(VulkanContext& ctx, VkQueueFlags* transfer_flags) {
    VkQueueFamilyProperties families[kMaxQueueFamilies];
    uint32_t count = kMaxQueueFamilies;
    ctx.vk.vkGetPhysicalDeviceQueueFamilyProperties(ctx.physical_device, &count, families);
    count = std::min(count, kMaxQueueFamilies);
    if (count == 0) return fail("no queue families");
    bool compute_found = false;
    for (uint32_t i = 0; i < count && !compute_found; ++i) {
        if ((families[i].queueFlags & VK_QUEUE_COMPUTE_BIT) && families[i].queueCount != 0) {
            ctx.compute_family = i;
            compute_found = true;
        }
    }
    if (!compute_found) return fail("no compute-capable queue family");
    // A transfer-only family runs copies beside the compute work; without
    // one the compute family serves both.
    ctx.transfer_family = ctx.compute_family;
    ctx.separate_transfer_family = false;
    constexpr VkQueueFlags kKinds = VK_QUEUE_GRAPHICS_BIT | VK_QUEUE_COMPUTE_BIT | VK_QUEUE_TRANSFER_BIT;
    for (uint32_t i = 0; i < count; ++i) {
        if ((families[i].queueFlags & kKinds) == VK_QUEUE_TRANSFER_BIT && families[i].queueCount != 0) {
            ctx.transfer_family = i;
            ctx.separate_transfer_family = true;
            break;
        }
    }
    *transfer_flags = families[ctx.transfer_family].queueFlags;
    return true;
}

// 16-bit storage is enabled only when the device offers both halves of it.
void readOptionalFeatures(VulkanContext& ctx) {
    ctx.storage_16bit = false;
    if (!ctx.vk.vkGetPhysicalDeviceFeatures2) return;
    VkPhysicalDeviceVulkan11Features v11{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_1_FEATURES};
    VkPhysicalDeviceFeatures2 features{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2, &v11};
    ctx.vk.vkGetPhysicalDeviceFeatures2(ctx.physical_device, &features);
    ctx.storage_16bit = v11.storageBuffer16BitAccess == VK_TRUE && features.features.shaderInt16 == VK_TRUE;
}

bool createDevice(VulkanContext& ctx) {
    VkPhysicalDeviceVulkan11Features v11{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_1_FEATURES};
    v11.storageBuffer16BitAccess = ctx.storage_16bit ? VK_TRUE : VK_FALSE;
    VkPhysicalDeviceVulkan13Features v13{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES, &v11};
    v13.subgroupSizeControl = VK_TRUE;
    v13.computeFullSubgroups = VK_TRUE;
    VkPhysicalDeviceSubgroupSizeControlFeaturesEXT subgroup_ext{
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SUBGROUP_SIZE_CONTROL_FEATURES_EXT, &v11};
    subgroup_ext.subgroupSizeControl = VK_TRUE;
    subgroup_ext.computeFullSubgroups = VK_TRUE;
    VkPhysicalDeviceVulkan12Features v12{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES};
    v12.pNext = ctx.api_1_3 ? static_cast<void*>(&v13) : static_cast<void*>(&subgroup_ext);
    v12.storageBuffer8BitAccess = VK_TRUE;
    v12.uniformAndStorageBuffer8BitAccess = VK_TRUE;
    v12.shaderInt8 = VK_TRUE;
    v12.bufferDeviceAddress = VK_TRUE;
    VkPhysicalDeviceFeatures core{};
    core.shaderInt64 = VK_TRUE;
    core.shaderInt16 = ctx.storage_16bit ? VK_TRUE : VK_FALSE;

    const char* extensions[3];
    uint32_t extension_count = 0;
    const bool host_memory = hasDeviceExtension(ctx.vk, ctx.physical_device, "VK_EXT_external_memory_host");
    if (host_memory) extensions[extension_count++] = "VK_EXT_external_memory_host";
    ctx.memory_budget = hasDeviceExtension(ctx.vk, ctx.physical_device, "VK_EXT_memory_budget");
    if (ctx.memory_budget) extensions[extension_count++] = "VK_EXT_memory_budget";
    if (!ctx.api_1_3 && hasDeviceExtension(ctx.vk, ctx.physical_device, "VK_EXT_subgroup_size_control"))
        extensions[extension_count++] = "VK_EXT_subgroup_size_control";

    const float priority = 1.0f;
    VkDeviceQueueCreateInfo queues[2] = {
        {VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO, nullptr, 0, ctx.compute_family, 1, &priority},
        {VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO, nullptr, 0, ctx.transfer_family, 1, &priority},
    };
    VkDeviceCreateInfo info{VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO, &v12};
    info.queueCreateInfoCount = ctx.separate_transfer_family ? 2 : 1;
    info.pQueueCreateInfos = queues;
    info.enabledExtensionCount = extension_count;
    info.ppEnabledExtensionNames = extension_count ? extensions : nullptr;
    info.pEnabledFeatures = &core;
    if (ctx.vk.vkCreateDevice(ctx.physical_device, &info, nullptr, &ctx.device) != VK_SUCCESS) {
        ctx.device = VK_NULL_HANDLE;
        return fail("vkCreateDevice");
    }
    if (!resolveDeviceFunctions(ctx.vk, ctx.device, host_memory)) return fail("resolve device entry points");
    ctx.host_import_usable = host_memory;
    return true;
}

// Host import needs the extension, every entry point it uses, and a non-zero
// import alignment.
void readHostImportSupport(VulkanContext& ctx) {
    const VulkanFunctions& vk = ctx.vk;
    const bool entry_points = vk.vkGetMemoryHostPointerPropertiesEXT && vk.vkGetPhysicalDeviceProperties2 &&
                              vk.vkCreateBuffer && vk.vkDestroyBuffer && vk.vkAllocateMemory && vk.vkFreeMemory &&
                              vk.vkBindBufferMemory && vk.vkGetBufferMemoryRequirements;
    ctx.import_alignment = 0;
    if (ctx.host_import_usable && entry_points) {
        VkPhysicalDeviceExternalMemoryHostPropertiesEXT host{
            VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_EXTERNAL_MEMORY_HOST_PROPERTIES_EXT};
        VkPhysicalDeviceProperties2 properties{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2, &host};
        vk.vkGetPhysicalDeviceProperties2(ctx.physical_device, &properties);
        ctx.import_alignment = host.minImportedHostPointerAlignment;
    }
    ctx.host_import_usable = ctx.host_import_usable && entry_points && ctx.import_alignment != 0;
}

}  // namespace

bool createLogicalDevice(VulkanContext& ctx) {
    VkQueueFlags transfer_flags = 0;
    if (!chooseQueueFamilies(ctx, &transfer_flags)) return false;
    readOptionalFeatures(ctx);
    if (!createDevice(ctx)) return false;

    ctx.vk.vkGetDeviceQueue(ctx.device, ctx.compute_family, 0, &ctx.compute_queue);
    if (!ctx.compute_queue) return fail("vkGetDeviceQueue (compute)");
    ctx.vk.vkGetDeviceQueue(ctx.device, ctx.transfer_family, 0, &ctx.transfer_queue);
    if (!ctx.transfer_queue) return fail("vkGetDeviceQueue (transfer)");
    if (envPresent("KVN_VK_PROFILE_PHASES"))
        printTransferQueue(ctx.transfer_family, transfer_flags, ctx.separate_transfer_family);
    if (ctx.vk.vkGetPhysicalDeviceMemoryProperties)
        ctx.vk.vkGetPhysicalDeviceMemoryProperties(ctx.physical_device, &ctx.memory_properties);
    readHostImportSupport(ctx);
    return true;
}

}  // namespace kvn
