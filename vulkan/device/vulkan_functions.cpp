#include "vulkan/device/vulkan_functions.h"

namespace kvn {

namespace {

template <typename Fn>
void resolveInstance(const VulkanFunctions& vk, VkInstance instance, Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(vk.vkGetInstanceProcAddr(instance, name));
}

template <typename Fn>
void resolveDevice(const VulkanFunctions& vk, VkDevice device, Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(vk.vkGetDeviceProcAddr(device, name));
}

}  // namespace

bool resolveInstanceFunctions(VulkanFunctions& vk, VkInstance instance) {
#define KVN_VK_RESOLVE(name) resolveInstance(vk, instance, vk.name, #name);
    KVN_VK_REQUIRED_INSTANCE_FUNCTIONS(KVN_VK_RESOLVE)
    KVN_VK_OPTIONAL_INSTANCE_FUNCTIONS(KVN_VK_RESOLVE)
#undef KVN_VK_RESOLVE
    bool complete = true;
#define KVN_VK_CHECK(name) complete = complete && vk.name != nullptr;
    KVN_VK_REQUIRED_INSTANCE_FUNCTIONS(KVN_VK_CHECK)
#undef KVN_VK_CHECK
    return complete;
}

bool resolveDeviceFunctions(VulkanFunctions& vk, VkDevice device, bool host_memory_extension) {
#define KVN_VK_RESOLVE(name) resolveDevice(vk, device, vk.name, #name);
    KVN_VK_REQUIRED_DEVICE_FUNCTIONS(KVN_VK_RESOLVE)
    KVN_VK_OPTIONAL_DEVICE_FUNCTIONS(KVN_VK_RESOLVE)
#undef KVN_VK_RESOLVE
    if (!vk.vkGetBufferDeviceAddress)
        resolveDevice(vk, device, vk.vkGetBufferDeviceAddress, "vkGetBufferDeviceAddressKHR");
    if (host_memory_extension)
        resolveDevice(vk, device, vk.vkGetMemoryHostPointerPropertiesEXT, "vkGetMemoryHostPointerPropertiesEXT");
    bool complete = true;
#define KVN_VK_CHECK(name) complete = complete && vk.name != nullptr;
    KVN_VK_REQUIRED_DEVICE_FUNCTIONS(KVN_VK_CHECK)
#undef KVN_VK_CHECK
    return complete;
}

}  // namespace kvn
