// Buffer memory for the device layer: the calls of the Vulkan memory
// allocator that the layer uses. The build takes the real vk_mem_alloc.h when
// it finds one (KVN_HAVE_VK_MEM_ALLOC); otherwise memory_allocator.cpp
// provides these calls with the same names, flags and meaning.
#pragma once

#include "vulkan/device/vulkan_api.h"

#if KVN_HAVE_VK_MEM_ALLOC

#define VMA_STATIC_VULKAN_FUNCTIONS 0
#define VMA_DYNAMIC_VULKAN_FUNCTIONS 1
#include <vk_mem_alloc.h>

#else

#include <cstdint>

typedef struct VmaAllocator_T* VmaAllocator;
typedef struct VmaAllocation_T* VmaAllocation;

typedef enum VmaAllocatorCreateFlagBits {
    VMA_ALLOCATOR_CREATE_EXT_MEMORY_BUDGET_BIT = 0x00000008,
    VMA_ALLOCATOR_CREATE_BUFFER_DEVICE_ADDRESS_BIT = 0x00000020,
} VmaAllocatorCreateFlagBits;
typedef VkFlags VmaAllocatorCreateFlags;

typedef enum VmaMemoryUsage {
    VMA_MEMORY_USAGE_UNKNOWN = 0,
    VMA_MEMORY_USAGE_AUTO = 7,
    VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE = 8,
    VMA_MEMORY_USAGE_AUTO_PREFER_HOST = 9,
} VmaMemoryUsage;

typedef enum VmaAllocationCreateFlagBits {
    VMA_ALLOCATION_CREATE_DEDICATED_MEMORY_BIT = 0x00000001,
    VMA_ALLOCATION_CREATE_MAPPED_BIT = 0x00000004,
    VMA_ALLOCATION_CREATE_HOST_ACCESS_SEQUENTIAL_WRITE_BIT = 0x00000400,
    VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT = 0x00000800,
} VmaAllocationCreateFlagBits;
typedef VkFlags VmaAllocationCreateFlags;

// Only the two loader entry points: the allocator resolves everything else.
typedef struct VmaVulkanFunctions {
    PFN_vkGetInstanceProcAddr vkGetInstanceProcAddr;
    PFN_vkGetDeviceProcAddr vkGetDeviceProcAddr;
} VmaVulkanFunctions;

typedef struct VmaAllocatorCreateInfo {
    VmaAllocatorCreateFlags flags;
    VkPhysicalDevice physicalDevice;
    VkDevice device;
    const VmaVulkanFunctions* pVulkanFunctions;
    VkInstance instance;
    uint32_t vulkanApiVersion;
} VmaAllocatorCreateInfo;

typedef struct VmaAllocationCreateInfo {
    VmaAllocationCreateFlags flags;
    VmaMemoryUsage usage;
    VkMemoryPropertyFlags requiredFlags;
    VkMemoryPropertyFlags preferredFlags;
    uint32_t memoryTypeBits;  // 0: any type
} VmaAllocationCreateInfo;

typedef struct VmaAllocationInfo {
    uint32_t memoryType;
    VkDeviceMemory deviceMemory;
    VkDeviceSize offset;
    VkDeviceSize size;
    void* pMappedData;
} VmaAllocationInfo;

typedef struct VmaStatistics {
    uint32_t blockCount;
    uint32_t allocationCount;
    VkDeviceSize blockBytes;
    VkDeviceSize allocationBytes;
} VmaStatistics;

typedef struct VmaBudget {
    VmaStatistics statistics;
    VkDeviceSize usage;
    VkDeviceSize budget;
} VmaBudget;

VkResult vmaCreateAllocator(const VmaAllocatorCreateInfo* pCreateInfo, VmaAllocator* pAllocator);
void vmaDestroyAllocator(VmaAllocator allocator);
void vmaGetMemoryProperties(VmaAllocator allocator, const VkPhysicalDeviceMemoryProperties** ppMemoryProperties);
// Fills one entry per memory heap of the device.
void vmaGetHeapBudgets(VmaAllocator allocator, VmaBudget* pBudgets);
VkResult vmaCreateBuffer(VmaAllocator allocator, const VkBufferCreateInfo* pBufferCreateInfo,
                         const VmaAllocationCreateInfo* pAllocationCreateInfo, VkBuffer* pBuffer,
                         VmaAllocation* pAllocation, VmaAllocationInfo* pAllocationInfo);
void vmaDestroyBuffer(VmaAllocator allocator, VkBuffer buffer, VmaAllocation allocation);

namespace kvn {

// The memory types that may hold an allocation, best first: every type in
// `type_bits` (and the request's memoryTypeBits) with all required flags (usage and host access add to them),
// ranked by how many preferred flags it lacks plus how many unwanted flags it
// has, lower index first on a tie. Returns the count written to `order`.
uint32_t rankMemoryTypes(const VkPhysicalDeviceMemoryProperties& properties, uint32_t type_bits,
                         const VmaAllocationCreateInfo& request, uint32_t order[VK_MAX_MEMORY_TYPES]);

}  // namespace kvn

#endif
