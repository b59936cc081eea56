#include "vulkan/device/descriptor_sets.h"

#include <new>

#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

// Storage-buffer descriptors per set, on average: the ratio of the transient pool.
constexpr uint32_t kDescriptorsPerSet = kTransientPoolDescriptors / kTransientPoolSets;

}  // namespace

VkResult allocateFromChain(DescriptorPoolChain& chain, VkDescriptorSetLayout layout, uint32_t sets_per_pool,
                           VkDescriptorSet* out) {
    const VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    for (;;) {
        if (chain.current < chain.pools.size()) {
            const VkDescriptorSetAllocateInfo info{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO, nullptr,
                                                   chain.pools[chain.current], 1, &layout};
            const VkResult r = vk.vkAllocateDescriptorSets(ctx.device, &info, out);
            if (r != VK_ERROR_OUT_OF_POOL_MEMORY && r != VK_ERROR_FRAGMENTED_POOL) return r;
            ++chain.current;
            continue;
        }
        try {
            chain.pools.reserve(chain.pools.size() + 1);
        } catch (const std::bad_alloc&) {
            return VK_ERROR_OUT_OF_HOST_MEMORY;
        }
        const VkDescriptorPoolSize size{VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, sets_per_pool * kDescriptorsPerSet};
        const VkDescriptorPoolCreateInfo info{VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO, nullptr, 0, sets_per_pool,
                                              1, &size};
        VkDescriptorPool pool = VK_NULL_HANDLE;
        if (VkResult r = vk.vkCreateDescriptorPool(ctx.device, &info, nullptr, &pool); r != VK_SUCCESS) return r;
        chain.pools.push_back(pool);
    }
}

void resetChain(DescriptorPoolChain& chain) {
    const VulkanContext& ctx = vulkanContext();
    if (chain.current == 0 && chain.pools.empty()) return;
    if (ctx.vk.vkResetDescriptorPool)
        for (VkDescriptorPool pool : chain.pools) ctx.vk.vkResetDescriptorPool(ctx.device, pool, 0);
    chain.current = 0;
}

void destroyChain(DescriptorPoolChain& chain) {
    const VulkanContext& ctx = vulkanContext();
    if (ctx.vk.vkDestroyDescriptorPool)
        for (VkDescriptorPool pool : chain.pools) ctx.vk.vkDestroyDescriptorPool(ctx.device, pool, nullptr);
    chain = DescriptorPoolChain{};
}

}  // namespace kvn
