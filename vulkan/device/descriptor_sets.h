// Descriptor-set pools that grow by whole pools, for sets that one owner
// (a stream) allocates as it records and gives back all at once.
#pragma once

#include <cstdint>
#include <vector>

#include "vulkan/device/vulkan_api.h"

namespace kvn {

struct DescriptorPoolChain {
    std::vector<VkDescriptorPool> pools;
    size_t current = 0;  // pools before this one are full
};

// The set a stream caches for one encode kernel.
struct CachedKernelSet {
    VkPipeline pipeline = VK_NULL_HANDLE;
    VkDescriptorSet set = VK_NULL_HANDLE;
    bool used = false;  // bound since the stream last ended
};

// Allocates one set, adding a pool of `sets_per_pool` sets when the present ones are full.
VkResult allocateFromChain(DescriptorPoolChain& chain, VkDescriptorSetLayout layout, uint32_t sets_per_pool,
                           VkDescriptorSet* out);
// Gives every set back; the pools stay for reuse.
void resetChain(DescriptorPoolChain& chain);
void destroyChain(DescriptorPoolChain& chain);

}  // namespace kvn
