// The phases of the Vulkan bring-up, in the order ensureVulkanContext runs
// them. Each returns false after reporting its failing step (some failures
// are silent, as noted).
#pragma once

#include "vulkan/device/memory_allocator.h"

namespace kvn {

struct VulkanContext;

// Loads the Vulkan loader and creates the instance.
bool openInstance(VulkanContext& ctx);

// Resolves the instance entry points (silent failure when a required one is
// missing), chooses the physical device, reads its name and type, and refuses
// it (with the unconditional refusal text) when it cannot run 32-lane subgroups.
bool choosePhysicalDevice(VulkanContext& ctx);

// Picks the queue families, creates the logical device with the features the
// kernels need, resolves the device entry points and gets the queues.
bool createLogicalDevice(VulkanContext& ctx);

// Command pools, the one-shot command buffer and fence, the allocator and
// upload staging buffer, descriptor pools, limits, the timestamp query pool
// and the reserved lists.
bool createContextObjects(VulkanContext& ctx);

// vmaCreateAllocator with the buffer-device-address flag, and the memory
// budget flag when the extension was enabled.
VkResult createVmaAllocator(VkInstance instance, VkPhysicalDevice physical_device, VkDevice device,
                            PFN_vkGetInstanceProcAddr get_instance_proc_addr,
                            PFN_vkGetDeviceProcAddr get_device_proc_addr, bool memory_budget, VmaAllocator* out);

// Tears down what a failed bring-up made; keeps the loader loaded and the
// state failed.
void destroyVulkanContext(VulkanContext& ctx);

}  // namespace kvn
