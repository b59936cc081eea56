// The device layer's own buffer allocator, used when the build has no
// vk_mem_alloc.h. Every buffer gets its own VkDeviceMemory: the library makes
// few, large, long-lived buffers (grown by freeing and allocating anew), so
// sub-allocation would buy little and cost a block manager.
#include "vulkan/device/memory_allocator.h"

#if !KVN_HAVE_VK_MEM_ALLOC

#include <algorithm>
#include <atomic>
#include <bit>
#include <new>

struct VmaAllocator_T {
    VkPhysicalDevice physical_device = VK_NULL_HANDLE;
    VkDevice device = VK_NULL_HANDLE;
    bool memory_budget = false;   // VK_EXT_memory_budget was enabled on the device
    bool device_address = false;  // buffers may ask for shader device addresses
    VkPhysicalDeviceMemoryProperties memory_properties{};

    PFN_vkGetPhysicalDeviceMemoryProperties2 vkGetPhysicalDeviceMemoryProperties2 = nullptr;
    PFN_vkCreateBuffer vkCreateBuffer = nullptr;
    PFN_vkDestroyBuffer vkDestroyBuffer = nullptr;
    PFN_vkGetBufferMemoryRequirements2 vkGetBufferMemoryRequirements2 = nullptr;
    PFN_vkAllocateMemory vkAllocateMemory = nullptr;
    PFN_vkFreeMemory vkFreeMemory = nullptr;
    PFN_vkBindBufferMemory vkBindBufferMemory = nullptr;
    PFN_vkMapMemory vkMapMemory = nullptr;

    // Per heap; each allocation is one block, so block and allocation
    // figures move together.
    std::atomic<uint32_t> allocation_count[VK_MAX_MEMORY_HEAPS]{};
    std::atomic<VkDeviceSize> allocation_bytes[VK_MAX_MEMORY_HEAPS]{};
};

struct VmaAllocation_T {
    VkDeviceMemory memory = VK_NULL_HANDLE;
    VkDeviceSize size = 0;
    uint32_t memory_type = 0;
    void* mapped = nullptr;
};

namespace {

// Types no buffer of ours should land in unless asked for by name.
constexpr VkMemoryPropertyFlags kAvoidedTypeFlags =
    VK_MEMORY_PROPERTY_LAZILY_ALLOCATED_BIT | VK_MEMORY_PROPERTY_PROTECTED_BIT |
    VK_MEMORY_PROPERTY_DEVICE_COHERENT_BIT_AMD | VK_MEMORY_PROPERTY_DEVICE_UNCACHED_BIT_AMD;

struct TypeWishes {
    VkMemoryPropertyFlags required;
    VkMemoryPropertyFlags preferred;
    VkMemoryPropertyFlags unwanted;
};

TypeWishes wishesOf(const VmaAllocationCreateInfo& request) {
    TypeWishes w{request.requiredFlags, request.preferredFlags, 0};
    const bool sequential = request.flags & VMA_ALLOCATION_CREATE_HOST_ACCESS_SEQUENTIAL_WRITE_BIT;
    const bool random = request.flags & VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT;
    if (sequential || random || (request.flags & VMA_ALLOCATION_CREATE_MAPPED_BIT))
        w.required |= VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT;
    // Reads from the host want cached memory; write-combined memory suits
    // streaming writes.
    if (random) w.preferred |= VK_MEMORY_PROPERTY_HOST_CACHED_BIT;
    else if (sequential) w.unwanted |= VK_MEMORY_PROPERTY_HOST_CACHED_BIT;
    if (request.usage == VMA_MEMORY_USAGE_AUTO_PREFER_HOST) w.unwanted |= VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
    else if (request.usage == VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE || !(sequential || random))
        w.preferred |= VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
    return w;
}

void countAllocation(VmaAllocator allocator, const VmaAllocation_T& allocation, int sign) {
    const uint32_t heap = allocator->memory_properties.memoryTypes[allocation.memory_type].heapIndex;
    if (sign > 0) {
        allocator->allocation_count[heap].fetch_add(1, std::memory_order_relaxed);
        allocator->allocation_bytes[heap].fetch_add(allocation.size, std::memory_order_relaxed);
    } else {
        allocator->allocation_count[heap].fetch_sub(1, std::memory_order_relaxed);
        allocator->allocation_bytes[heap].fetch_sub(allocation.size, std::memory_order_relaxed);
    }
}

VkResult allocateForBuffer(VmaAllocator allocator, VkBuffer buffer, const VkBufferCreateInfo& buffer_info,
                           const VmaAllocationCreateInfo& request, VmaAllocation_T& out) {
    VkMemoryDedicatedRequirements dedicated_needs{VK_STRUCTURE_TYPE_MEMORY_DEDICATED_REQUIREMENTS};
    VkMemoryRequirements2 needs{VK_STRUCTURE_TYPE_MEMORY_REQUIREMENTS_2, &dedicated_needs};
    VkBufferMemoryRequirementsInfo2 needs_info{VK_STRUCTURE_TYPE_BUFFER_MEMORY_REQUIREMENTS_INFO_2, nullptr, buffer};
    allocator->vkGetBufferMemoryRequirements2(allocator->device, &needs_info, &needs);

    uint32_t order[VK_MAX_MEMORY_TYPES];
    const uint32_t candidates =
        kvn::rankMemoryTypes(allocator->memory_properties, needs.memoryRequirements.memoryTypeBits, request, order);
    if (candidates == 0) return VK_ERROR_FEATURE_NOT_PRESENT;

    const bool dedicated = (request.flags & VMA_ALLOCATION_CREATE_DEDICATED_MEMORY_BIT) ||
                           dedicated_needs.requiresDedicatedAllocation || dedicated_needs.prefersDedicatedAllocation;
    VkMemoryDedicatedAllocateInfo dedicated_info{VK_STRUCTURE_TYPE_MEMORY_DEDICATED_ALLOCATE_INFO, nullptr,
                                                 VK_NULL_HANDLE, buffer};
    VkMemoryAllocateFlagsInfo flags_info{VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_FLAGS_INFO, nullptr,
                                         VK_MEMORY_ALLOCATE_DEVICE_ADDRESS_BIT, 0};
    const void* chain = nullptr;
    if (dedicated) {
        dedicated_info.pNext = chain;
        chain = &dedicated_info;
    }
    if (allocator->device_address && (buffer_info.usage & VK_BUFFER_USAGE_SHADER_DEVICE_ADDRESS_BIT)) {
        flags_info.pNext = chain;
        chain = &flags_info;
    }

    // Out of memory in one type is worth a try in the next best.
    VkResult result = VK_ERROR_OUT_OF_DEVICE_MEMORY;
    for (uint32_t i = 0; i < candidates; ++i) {
        VkMemoryAllocateInfo info{VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO, chain, needs.memoryRequirements.size, order[i]};
        VkDeviceMemory memory = VK_NULL_HANDLE;
        result = allocator->vkAllocateMemory(allocator->device, &info, nullptr, &memory);
        if (result == VK_SUCCESS) {
            out.memory = memory;
            out.size = needs.memoryRequirements.size;
            out.memory_type = order[i];
            return VK_SUCCESS;
        }
        if (result != VK_ERROR_OUT_OF_DEVICE_MEMORY && result != VK_ERROR_OUT_OF_HOST_MEMORY) return result;
    }
    return result;
}

template <typename Fn>
bool resolve(Fn& fn, PFN_vkVoidFunction found) {
    fn = reinterpret_cast<Fn>(found);
    return fn != nullptr;
}

}  // namespace

namespace kvn {

uint32_t rankMemoryTypes(const VkPhysicalDeviceMemoryProperties& properties, uint32_t type_bits,
                         const VmaAllocationCreateInfo& request, uint32_t order[VK_MAX_MEMORY_TYPES]) {
    const TypeWishes w = wishesOf(request);
    if (request.memoryTypeBits) type_bits &= request.memoryTypeBits;
    uint32_t cost[VK_MAX_MEMORY_TYPES];
    uint32_t count = 0;
    for (uint32_t i = 0; i < properties.memoryTypeCount && i < VK_MAX_MEMORY_TYPES; ++i) {
        const VkMemoryPropertyFlags flags = properties.memoryTypes[i].propertyFlags;
        if (!(type_bits & (1u << i)) || (flags & w.required) != w.required) continue;
        if (flags & kAvoidedTypeFlags & ~w.required) continue;
        cost[i] = std::popcount(w.preferred & ~flags) + std::popcount(w.unwanted & flags);
        order[count++] = i;
    }
    std::stable_sort(order, order + count, [&](uint32_t a, uint32_t b) { return cost[a] < cost[b]; });
    return count;
}

}  // namespace kvn

VkResult vmaCreateAllocator(const VmaAllocatorCreateInfo* info, VmaAllocator* out) {
    if (!info || !out || !info->pVulkanFunctions || !info->pVulkanFunctions->vkGetInstanceProcAddr ||
        !info->pVulkanFunctions->vkGetDeviceProcAddr || !info->device || !info->physicalDevice)
        return VK_ERROR_INITIALIZATION_FAILED;
    *out = VK_NULL_HANDLE;
    auto* a = new (std::nothrow) VmaAllocator_T;
    if (!a) return VK_ERROR_OUT_OF_HOST_MEMORY;
    a->physical_device = info->physicalDevice;
    a->device = info->device;
    a->memory_budget = info->flags & VMA_ALLOCATOR_CREATE_EXT_MEMORY_BUDGET_BIT;
    a->device_address = info->flags & VMA_ALLOCATOR_CREATE_BUFFER_DEVICE_ADDRESS_BIT;

    const auto instance_fn = [&](const char* name) {
        return info->pVulkanFunctions->vkGetInstanceProcAddr(info->instance, name);
    };
    const auto device_fn = [&](const char* name) { return info->pVulkanFunctions->vkGetDeviceProcAddr(a->device, name); };
    PFN_vkGetPhysicalDeviceMemoryProperties get_memory_properties = nullptr;
    const bool complete =
        resolve(get_memory_properties, instance_fn("vkGetPhysicalDeviceMemoryProperties")) &&
        resolve(a->vkGetPhysicalDeviceMemoryProperties2, instance_fn("vkGetPhysicalDeviceMemoryProperties2")) &&
        resolve(a->vkCreateBuffer, device_fn("vkCreateBuffer")) &&
        resolve(a->vkDestroyBuffer, device_fn("vkDestroyBuffer")) &&
        resolve(a->vkGetBufferMemoryRequirements2, device_fn("vkGetBufferMemoryRequirements2")) &&
        resolve(a->vkAllocateMemory, device_fn("vkAllocateMemory")) &&
        resolve(a->vkFreeMemory, device_fn("vkFreeMemory")) &&
        resolve(a->vkBindBufferMemory, device_fn("vkBindBufferMemory")) &&
        resolve(a->vkMapMemory, device_fn("vkMapMemory"));
    if (!complete) {
        delete a;
        return VK_ERROR_INITIALIZATION_FAILED;
    }
    get_memory_properties(a->physical_device, &a->memory_properties);
    *out = a;
    return VK_SUCCESS;
}

void vmaDestroyAllocator(VmaAllocator allocator) { delete allocator; }

void vmaGetMemoryProperties(VmaAllocator allocator, const VkPhysicalDeviceMemoryProperties** out) {
    *out = &allocator->memory_properties;
}

void vmaGetHeapBudgets(VmaAllocator allocator, VmaBudget* budgets) {
    const VkPhysicalDeviceMemoryProperties& props = allocator->memory_properties;
    VkPhysicalDeviceMemoryBudgetPropertiesEXT reported{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MEMORY_BUDGET_PROPERTIES_EXT};
    if (allocator->memory_budget) {
        VkPhysicalDeviceMemoryProperties2 props2{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MEMORY_PROPERTIES_2, &reported};
        allocator->vkGetPhysicalDeviceMemoryProperties2(allocator->physical_device, &props2);
    }
    for (uint32_t heap = 0; heap < props.memoryHeapCount; ++heap) {
        VmaBudget& b = budgets[heap];
        const VkDeviceSize bytes = allocator->allocation_bytes[heap].load(std::memory_order_relaxed);
        const uint32_t count = allocator->allocation_count[heap].load(std::memory_order_relaxed);
        b.statistics = {count, count, bytes, bytes};
        const VkDeviceSize heap_size = props.memoryHeaps[heap].size;
        // Without the extension (or with a driver that reports nothing) the
        // process's own allocations are the usage and 80% of the heap the budget.
        b.usage = allocator->memory_budget && reported.heapUsage[heap] ? reported.heapUsage[heap] : bytes;
        b.budget = allocator->memory_budget && reported.heapBudget[heap] ? std::min(reported.heapBudget[heap], heap_size)
                                                                         : heap_size / 10 * 8;
    }
}

VkResult vmaCreateBuffer(VmaAllocator allocator, const VkBufferCreateInfo* buffer_info,
                         const VmaAllocationCreateInfo* request, VkBuffer* out_buffer, VmaAllocation* out_allocation,
                         VmaAllocationInfo* out_info) {
    *out_buffer = VK_NULL_HANDLE;
    *out_allocation = VK_NULL_HANDLE;
    if (!allocator || !buffer_info || !request || buffer_info->size == 0) return VK_ERROR_INITIALIZATION_FAILED;

    auto* allocation = new (std::nothrow) VmaAllocation_T;
    if (!allocation) return VK_ERROR_OUT_OF_HOST_MEMORY;
    VkBuffer buffer = VK_NULL_HANDLE;
    VkResult result = allocator->vkCreateBuffer(allocator->device, buffer_info, nullptr, &buffer);
    if (result == VK_SUCCESS) result = allocateForBuffer(allocator, buffer, *buffer_info, *request, *allocation);
    if (result == VK_SUCCESS) {
        result = allocator->vkBindBufferMemory(allocator->device, buffer, allocation->memory, 0);
        if (result == VK_SUCCESS && (request->flags & VMA_ALLOCATION_CREATE_MAPPED_BIT))
            result = allocator->vkMapMemory(allocator->device, allocation->memory, 0, VK_WHOLE_SIZE, 0,
                                            &allocation->mapped);
        if (result != VK_SUCCESS) allocator->vkFreeMemory(allocator->device, allocation->memory, nullptr);
    }
    if (result != VK_SUCCESS) {
        if (buffer) allocator->vkDestroyBuffer(allocator->device, buffer, nullptr);
        delete allocation;
        return result;
    }
    countAllocation(allocator, *allocation, +1);
    *out_buffer = buffer;
    *out_allocation = allocation;
    if (out_info) *out_info = {allocation->memory_type, allocation->memory, 0, allocation->size, allocation->mapped};
    return VK_SUCCESS;
}

void vmaDestroyBuffer(VmaAllocator allocator, VkBuffer buffer, VmaAllocation allocation) {
    if (buffer) allocator->vkDestroyBuffer(allocator->device, buffer, nullptr);
    if (!allocation) return;
    // Freeing the memory also ends a mapping.
    allocator->vkFreeMemory(allocator->device, allocation->memory, nullptr);
    countAllocation(allocator, *allocation, -1);
    delete allocation;
}

#endif
