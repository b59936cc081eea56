#include <cstdio>
#include <new>

#include "core/platform/platform.h"
#include "vulkan/device/bring_up_steps.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/init_report.h"
#include "vulkan/device/staging_buffers.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

bool fail(const char* step) {
    reportInitFailure(step);
    return false;
}

bool createCommandPool(const VulkanContext& ctx, uint32_t family, VkCommandPool* out) {
    VkCommandPoolCreateInfo info{VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO, nullptr,
                                 VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT, family};
    if (ctx.vk.vkCreateCommandPool(ctx.device, &info, nullptr, out) == VK_SUCCESS) return true;
    *out = VK_NULL_HANDLE;
    return false;
}

bool createCommandObjects(VulkanContext& ctx) {
    if (!createCommandPool(ctx, ctx.compute_family, &ctx.compute_pool)) return fail("vkCreateCommandPool (compute)");
    VkCommandBufferAllocateInfo cb_info{VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO, nullptr, ctx.compute_pool,
                                        VK_COMMAND_BUFFER_LEVEL_PRIMARY, 1};
    if (ctx.vk.vkAllocateCommandBuffers(ctx.device, &cb_info, &ctx.one_shot_cb) != VK_SUCCESS) {
        ctx.one_shot_cb = VK_NULL_HANDLE;
        return fail("vkAllocateCommandBuffers");
    }
    VkFenceCreateInfo fence_info{VK_STRUCTURE_TYPE_FENCE_CREATE_INFO};  // unsignalled
    if (ctx.vk.vkCreateFence(ctx.device, &fence_info, nullptr, &ctx.one_shot_fence) != VK_SUCCESS) {
        ctx.one_shot_fence = VK_NULL_HANDLE;
        return fail("vkCreateFence");
    }
    if (!createCommandPool(ctx, ctx.transfer_family, &ctx.transfer_pool))
        return fail("vkCreateCommandPool (transfer)");
    return true;
}

bool createDescriptorPool(const VulkanContext& ctx, uint32_t sets, uint32_t descriptors, VkDescriptorPool* out) {
    const VkDescriptorPoolSize size{VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, descriptors};
    VkDescriptorPoolCreateInfo info{VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO, nullptr, 0, sets, 1, &size};
    if (ctx.vk.vkCreateDescriptorPool(ctx.device, &info, nullptr, out) == VK_SUCCESS) return true;
    *out = VK_NULL_HANDLE;
    return false;
}

void readLimits(VulkanContext& ctx) {
    if (!ctx.vk.vkGetPhysicalDeviceProperties) return;
    VkPhysicalDeviceProperties properties{};
    ctx.vk.vkGetPhysicalDeviceProperties(ctx.physical_device, &properties);
    gpuOps().timestamp_period = properties.limits.timestampPeriod > 0.0f ? properties.limits.timestampPeriod : 1.0f;
    ctx.min_storage_buffer_offset_alignment = properties.limits.minStorageBufferOffsetAlignment;
    ctx.max_storage_buffer_range = properties.limits.maxStorageBufferRange;
    for (int d = 0; d < 3; ++d) ctx.max_workgroup_count[d] = properties.limits.maxComputeWorkGroupCount[d];
}

// Without a query pool GPU timing is off, silently; events then fail.
void createTimestampPool(VulkanContext& ctx) {
    if (!ctx.vk.vkCreateQueryPool) return;
    VkQueryPoolCreateInfo info{VK_STRUCTURE_TYPE_QUERY_POOL_CREATE_INFO};
    info.queryType = VK_QUERY_TYPE_TIMESTAMP;
    info.queryCount = kTimestampQueries;
    if (ctx.vk.vkCreateQueryPool(ctx.device, &info, nullptr, &ctx.query_pool) != VK_SUCCESS) {
        ctx.query_pool = VK_NULL_HANDLE;
        return;
    }
    try {
        ctx.free_queries.reserve(kTimestampQueries);
    } catch (const std::bad_alloc&) {
        std::fputs("warning: query-pool free-list reserve failed; GPU kernel timing disabled\n", stderr);
        return;
    }
    for (uint32_t query = 0; query < kEventQueries; ++query) ctx.free_queries.push_back(query);
}

bool reserveLists(VulkanContext& ctx) {
    try {
        ctx.buffers.reserve(kReservedDeviceBuffers);
        ctx.streams.reserve(kReservedStreams);
        ctx.host_allocations.reserve(kReservedHostAllocations);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

VkResult createVmaAllocator(VkInstance instance, VkPhysicalDevice physical_device, VkDevice device,
                            PFN_vkGetInstanceProcAddr get_instance_proc_addr,
                            PFN_vkGetDeviceProcAddr get_device_proc_addr, bool memory_budget, VmaAllocator* out) {
    VmaVulkanFunctions functions{};
    functions.vkGetInstanceProcAddr = get_instance_proc_addr;
    functions.vkGetDeviceProcAddr = get_device_proc_addr;
    VmaAllocatorCreateInfo info{};
    info.flags = VMA_ALLOCATOR_CREATE_BUFFER_DEVICE_ADDRESS_BIT |
                 (memory_budget ? VMA_ALLOCATOR_CREATE_EXT_MEMORY_BUDGET_BIT : 0);
    info.physicalDevice = physical_device;
    info.device = device;
    info.pVulkanFunctions = &functions;
    info.instance = instance;
    info.vulkanApiVersion = VK_API_VERSION_1_3;
    return vmaCreateAllocator(&info, out);
}

bool createContextObjects(VulkanContext& ctx) {
    if (!createCommandObjects(ctx)) return false;

    if (createVmaAllocator(ctx.instance, ctx.physical_device, ctx.device, ctx.vk.vkGetInstanceProcAddr,
                           ctx.vk.vkGetDeviceProcAddr, ctx.memory_budget, &ctx.allocator) != VK_SUCCESS) {
        ctx.allocator = VK_NULL_HANDLE;
        return fail("VMA allocator init");
    }
    if (!ensureUploadBuffer(kInitialStagingBytes)) return fail("staging buffer alloc");

    if (!createDescriptorPool(ctx, kPersistentPoolSets, kPersistentPoolDescriptors, &ctx.persistent_pool))
        return fail("vkCreateDescriptorPool (persistent)");
    if (!createDescriptorPool(ctx, kTransientPoolSets, kTransientPoolDescriptors, &ctx.transient_pool))
        return fail("vkCreateDescriptorPool (transient)");

    readLimits(ctx);
    createTimestampPool(ctx);
    ctx.decode_profiling = envPresent("KVN_VK_PROFILE_DECODE") && ctx.query_pool;
    if (!reserveLists(ctx)) return fail("VMA allocator init");
    return true;
}

}  // namespace kvn
