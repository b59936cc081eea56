// The Vulkan entry points the device layer resolves, grouped by how they are
// resolved and whether bring-up can go on without them.
#pragma once

#include "vulkan/device/vulkan_api.h"

namespace kvn {

// Resolved through vkGetInstanceProcAddr with the instance; bring-up fails
// silently when one of these is missing.
#define KVN_VK_REQUIRED_INSTANCE_FUNCTIONS(X) \
    X(vkEnumeratePhysicalDevices)             \
    X(vkGetPhysicalDeviceQueueFamilyProperties) \
    X(vkCreateDevice)                         \
    X(vkGetDeviceProcAddr)

#define KVN_VK_OPTIONAL_INSTANCE_FUNCTIONS(X)  \
    X(vkGetPhysicalDeviceProperties)           \
    X(vkEnumerateDeviceExtensionProperties)    \
    X(vkGetPhysicalDeviceProperties2)          \
    X(vkGetPhysicalDeviceFeatures2)            \
    X(vkGetPhysicalDeviceMemoryProperties)     \
    X(vkDestroyDevice)                         \
    X(vkDestroyInstance)

// Resolved through vkGetDeviceProcAddr; a missing one fails bring-up with
// "resolve device entry points".
#define KVN_VK_REQUIRED_DEVICE_FUNCTIONS(X) \
    X(vkGetDeviceQueue)                     \
    X(vkCreateCommandPool)                  \
    X(vkAllocateCommandBuffers)             \
    X(vkCreateShaderModule)                 \
    X(vkBeginCommandBuffer)                 \
    X(vkEndCommandBuffer)                   \
    X(vkQueueSubmit)                        \
    X(vkQueueWaitIdle)                      \
    X(vkDeviceWaitIdle)                     \
    X(vkCreateFence)                        \
    X(vkWaitForFences)                      \
    X(vkCmdCopyBuffer)                      \
    X(vkCmdFillBuffer)                      \
    X(vkCreateDescriptorSetLayout)          \
    X(vkCreatePipelineLayout)               \
    X(vkCreateComputePipelines)             \
    X(vkCreateDescriptorPool)               \
    X(vkAllocateDescriptorSets)             \
    X(vkUpdateDescriptorSets)               \
    X(vkCmdBindPipeline)                    \
    X(vkCmdBindDescriptorSets)              \
    X(vkCmdDispatch)

// Operations that need one of these return -1 when it is missing.
#define KVN_VK_OPTIONAL_DEVICE_FUNCTIONS(X) \
    X(vkFreeCommandBuffers)                 \
    X(vkResetFences)                        \
    X(vkDestroyFence)                       \
    X(vkCreateSemaphore)                    \
    X(vkDestroySemaphore)                   \
    X(vkDestroyCommandPool)                 \
    X(vkResetCommandBuffer)                 \
    X(vkDestroyShaderModule)                \
    X(vkCmdPipelineBarrier)                 \
    X(vkDestroyDescriptorSetLayout)         \
    X(vkDestroyPipelineLayout)              \
    X(vkDestroyPipeline)                    \
    X(vkCreatePipelineCache)                \
    X(vkDestroyPipelineCache)               \
    X(vkDestroyDescriptorPool)              \
    X(vkResetDescriptorPool)                \
    X(vkCmdPushConstants)                   \
    X(vkCmdDispatchBase)                    \
    X(vkCreateQueryPool)                    \
    X(vkDestroyQueryPool)                   \
    X(vkCmdResetQueryPool)                  \
    X(vkCmdWriteTimestamp)                  \
    X(vkGetQueryPoolResults)                \
    X(vkCreateBuffer)                       \
    X(vkDestroyBuffer)                      \
    X(vkAllocateMemory)                     \
    X(vkFreeMemory)                         \
    X(vkBindBufferMemory)                   \
    X(vkGetBufferMemoryRequirements)        \
    X(vkGetBufferDeviceAddress)

#define KVN_VK_DECLARE_FUNCTION(name) PFN_##name name = nullptr;

struct VulkanFunctions {
    PFN_vkGetInstanceProcAddr vkGetInstanceProcAddr = nullptr;
    PFN_vkCreateInstance vkCreateInstance = nullptr;
    KVN_VK_REQUIRED_INSTANCE_FUNCTIONS(KVN_VK_DECLARE_FUNCTION)
    KVN_VK_OPTIONAL_INSTANCE_FUNCTIONS(KVN_VK_DECLARE_FUNCTION)
    KVN_VK_REQUIRED_DEVICE_FUNCTIONS(KVN_VK_DECLARE_FUNCTION)
    KVN_VK_OPTIONAL_DEVICE_FUNCTIONS(KVN_VK_DECLARE_FUNCTION)
    PFN_vkGetMemoryHostPointerPropertiesEXT vkGetMemoryHostPointerPropertiesEXT = nullptr;
};

#undef KVN_VK_DECLARE_FUNCTION

// Resolves the instance-level entry points; false when a required one is missing.
bool resolveInstanceFunctions(VulkanFunctions& vk, VkInstance instance);

// Resolves the device-level entry points (vkGetBufferDeviceAddressKHR stands
// in for the core name; the host-pointer query only when its extension was
// enabled); false when a required one is missing.
bool resolveDeviceFunctions(VulkanFunctions& vk, VkDevice device, bool host_memory_extension);

}  // namespace kvn
