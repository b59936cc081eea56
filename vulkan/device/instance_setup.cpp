#include <algorithm>
#include <cstring>

#include "core/platform/platform.h"
#include "vulkan/device/bring_up_steps.h"
#include "vulkan/device/device_choice.h"
#include "vulkan/device/init_report.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

constexpr uint32_t kVersion1_0 = VK_MAKE_API_VERSION(0, 1, 0, 0);
constexpr uint32_t kVersion1_3 = VK_API_VERSION_1_3;

bool fail(const char* step) {
    reportInitFailure(step);
    return false;
}

}  // namespace

bool openInstance(VulkanContext& ctx) {
    ctx.loader = openLibrary("libvulkan.so.1");
    if (!ctx.loader) return fail("loadVulkan (no libvulkan)");
    ctx.vk.vkGetInstanceProcAddr =
        reinterpret_cast<PFN_vkGetInstanceProcAddr>(findSymbol(ctx.loader, "vkGetInstanceProcAddr"));
    if (!ctx.vk.vkGetInstanceProcAddr) return fail("vkGetInstanceProcAddr");
    ctx.vk.vkCreateInstance =
        reinterpret_cast<PFN_vkCreateInstance>(ctx.vk.vkGetInstanceProcAddr(VK_NULL_HANDLE, "vkCreateInstance"));
    if (!ctx.vk.vkCreateInstance) return fail("resolve vkCreateInstance");

    VkApplicationInfo app{VK_STRUCTURE_TYPE_APPLICATION_INFO};
    app.pApplicationName = "korvane_vk";
    app.applicationVersion = kVersion1_0;
    app.pEngineName = "korvane";
    app.engineVersion = kVersion1_0;
    app.apiVersion = kVersion1_3;
    VkInstanceCreateInfo info{VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO};
    info.pApplicationInfo = &app;
    if (ctx.vk.vkCreateInstance(&info, nullptr, &ctx.instance) != VK_SUCCESS) {
        ctx.instance = VK_NULL_HANDLE;
        return fail("vkCreateInstance");
    }
    return true;
}

bool choosePhysicalDevice(VulkanContext& ctx) {
    const VulkanFunctions& vk = ctx.vk;
    if (!resolveInstanceFunctions(ctx.vk, ctx.instance)) return false;

    uint32_t count = 0;
    if (vk.vkEnumeratePhysicalDevices(ctx.instance, &count, nullptr) != VK_SUCCESS)
        return fail("vkEnumeratePhysicalDevices (count)");
    if (count == 0) return fail("no physical devices");
    VkPhysicalDevice devices[kMaxPhysicalDevices] = {};
    count = std::min(count, kMaxPhysicalDevices);
    const VkResult listed = vk.vkEnumeratePhysicalDevices(ctx.instance, &count, devices);
    if (listed != VK_SUCCESS && listed != VK_INCOMPLETE) return fail("vkEnumeratePhysicalDevices (list)");

    const std::optional<VkPhysicalDevice> chosen = pickPhysicalDeviceFromList(vk, devices, count);
    if (!chosen) return fail("device selection (pickPhysicalDeviceFromList)");
    ctx.physical_device = *chosen;

    // Without the properties entry point the name stays empty and the
    // device counts as a 1.3 device.
    ctx.api_1_3 = true;
    if (vk.vkGetPhysicalDeviceProperties) {
        VkPhysicalDeviceProperties properties{};
        vk.vkGetPhysicalDeviceProperties(ctx.physical_device, &properties);
        ctx.device_name_length = static_cast<uint32_t>(strnlen(properties.deviceName, sizeof properties.deviceName));
        std::memcpy(ctx.device_name, properties.deviceName, ctx.device_name_length);
        ctx.device_name[ctx.device_name_length] = '\0';
        ctx.device_type = properties.deviceType;
        ctx.api_1_3 = properties.apiVersion >= kVersion1_3;
    }

    // Warp-cooperative kernels need 32-lane subgroups.
    if (vk.vkGetPhysicalDeviceProperties2) {
        VkPhysicalDeviceSubgroupSizeControlProperties subgroup{
            VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SUBGROUP_SIZE_CONTROL_PROPERTIES};
        VkPhysicalDeviceProperties2 properties{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2, &subgroup};
        vk.vkGetPhysicalDeviceProperties2(ctx.physical_device, &properties);
        if (subgroup.minSubgroupSize > 32 || subgroup.maxSubgroupSize < 32) {
            reportUnsupportedSubgroupSize({ctx.device_name, ctx.device_name_length}, subgroup.minSubgroupSize,
                                          subgroup.maxSubgroupSize);
            return false;
        }
    }
    return true;
}

}  // namespace kvn
