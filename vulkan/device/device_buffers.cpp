#include "vulkan/device/device_buffers.h"

#include <cstdio>
#include "vulkan/device/vk_errors.h"
#include <new>

#include "core/platform/fault_countdown.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

FaultCountdown g_alloc_fault;

// Requests above this many bytes (a rounded size of 64 MiB or more) get memory of their own.
constexpr uint64_t kDedicatedAbove = 0x3FFFFFC;

void reportAllocFailure(VkResult result, uint64_t size, bool dedicated, bool concurrent) {
    const VulkanContext& ctx = vulkanContext();
    std::fprintf(stderr, "[vk-alloc] vmaCreateBuffer rc=%d size=%llu dedicated=%s sharing=%d qfs=%d\n",
                 static_cast<int>(result), static_cast<unsigned long long>(size), dedicated ? "true" : "false",
                 concurrent ? 1 : 0, concurrent ? 2 : 0);
    const VkPhysicalDeviceMemoryProperties* properties = nullptr;
    vmaGetMemoryProperties(ctx.allocator, &properties);
    VmaBudget budgets[VK_MAX_MEMORY_HEAPS] = {};
    vmaGetHeapBudgets(ctx.allocator, budgets);
    for (uint32_t heap = 0; heap < properties->memoryHeapCount && heap < 16; ++heap) {
        const VmaBudget& b = budgets[heap];
        if (b.usage == 0 && b.budget == 0) continue;
        std::fprintf(stderr, "[vk-alloc]   heap %u: usage=%llu budget=%llu allocBytes=%llu blockBytes=%llu\n", heap,
                     static_cast<unsigned long long>(b.usage), static_cast<unsigned long long>(b.budget),
                     static_cast<unsigned long long>(b.statistics.allocationBytes),
                     static_cast<unsigned long long>(b.statistics.blockBytes));
    }
    for (uint32_t type = 0; type < properties->memoryTypeCount; ++type)
        std::fprintf(stderr, "[vk-alloc]   type %u: heap=%u flags=0x%x\n", type,
                     properties->memoryTypes[type].heapIndex, properties->memoryTypes[type].propertyFlags);
}

}  // namespace

std::optional<BufferView> lookupBuffer(DeviceBufferHandle handle) {
    if (handle == 0) return std::nullopt;
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.registry_lock);
    if (handle > ctx.buffers.size()) return std::nullopt;
    const DeviceBufferEntry& entry = ctx.buffers[handle - 1];
    if (!entry.live) return std::nullopt;
    return BufferView{entry.buffer, entry.size};
}

uint64_t bufferDeviceAddress(DeviceBufferHandle handle) {
    const VulkanContext& ctx = vulkanContext();
    if (handle == 0 || !ctx.vk.vkGetBufferDeviceAddress) return 0;
    const std::optional<BufferView> view = lookupBuffer(handle);
    if (!view) return 0;
    const VkBufferDeviceAddressInfo info{VK_STRUCTURE_TYPE_BUFFER_DEVICE_ADDRESS_INFO, nullptr, view->buffer};
    return ctx.vk.vkGetBufferDeviceAddress(ctx.device, &info);
}

void injectDeviceAllocFailure(int after) { g_alloc_fault.arm(after); }

int32_t procMemAlloc(uint64_t* out, uint64_t bytes) {
    VulkanContext& ctx = vulkanContext();
    if (!out || bytes > UINT64_MAX - 3) return kVkRequestRefused;
    if (g_alloc_fault.fires()) return VK_ERROR_OUT_OF_DEVICE_MEMORY;
    // A zero-byte request still gets a real (4-byte) buffer: Vulkan has no empty buffers.
    const uint64_t size = bytes == 0 ? 4 : (bytes + 3) & ~uint64_t{3};
    const bool dedicated = bytes > kDedicatedAbove;
    const uint32_t families[2] = {ctx.compute_family, ctx.transfer_family};

    VkBufferCreateInfo buffer_info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
    buffer_info.size = size;
    buffer_info.usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT |
                        VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_SHADER_DEVICE_ADDRESS_BIT;
    if (ctx.separate_transfer_family) {
        buffer_info.sharingMode = VK_SHARING_MODE_CONCURRENT;
        buffer_info.queueFamilyIndexCount = 2;
        buffer_info.pQueueFamilyIndices = families;
    } else {
        buffer_info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    }
    VmaAllocationCreateInfo request{};
    request.usage = VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE;
    request.requiredFlags = VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
    if (dedicated && !envPresent("KVN_VK_NO_DEDICATED")) request.flags = VMA_ALLOCATION_CREATE_DEDICATED_MEMORY_BIT;

    VkBuffer buffer = VK_NULL_HANDLE;
    VmaAllocation allocation = VK_NULL_HANDLE;
    VkResult result = vmaCreateBuffer(ctx.allocator, &buffer_info, &request, &buffer, &allocation, nullptr);
    if (result == VK_ERROR_OUT_OF_DEVICE_MEMORY) {
        result = vmaCreateBuffer(ctx.allocator, &buffer_info, &request, &buffer, &allocation, nullptr);
        if (result == VK_SUCCESS && envPresent("KVN_VK_INIT_DEBUG"))
            std::fprintf(stderr, "[vk-alloc] first attempt refused, retry succeeded (size=%llu)\n",
                         static_cast<unsigned long long>(size));
    }
    if (result != VK_SUCCESS) {
        if (envPresent("KVN_VK_INIT_DEBUG")) reportAllocFailure(result, size, dedicated, ctx.separate_transfer_family);
        return result;
    }

    LockGuard guard(ctx.registry_lock);
    size_t index = 0;
    while (index < ctx.buffers.size() && ctx.buffers[index].live) ++index;
    try {
        if (index == ctx.buffers.size()) ctx.buffers.emplace_back();
    } catch (const std::bad_alloc&) {
        vmaDestroyBuffer(ctx.allocator, buffer, allocation);
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    }
    ctx.buffers[index] = DeviceBufferEntry{buffer, allocation, size, 1};
    *out = index + 1;
    return 0;
}

int32_t procMemFree(DeviceBufferHandle handle) {
    VulkanContext& ctx = vulkanContext();
    if (handle == 0) return 0;
    DeviceBufferEntry entry;
    {
        LockGuard guard(ctx.registry_lock);
        if (handle > ctx.buffers.size() || !ctx.buffers[handle - 1].live) return 0;
        // Cleared before the buffer is destroyed, so that no lookup hands it out meanwhile.
        entry = ctx.buffers[handle - 1];
        ctx.buffers[handle - 1] = DeviceBufferEntry{};
    }
    if (entry.allocation) vmaDestroyBuffer(ctx.allocator, entry.buffer, entry.allocation);
    return 0;
}

int32_t procMemGetInfo(uint64_t* free_bytes, uint64_t* total_bytes) {
    if (!free_bytes || !total_bytes) return kVkRequestRefused;
    *free_bytes = 0;
    *total_bytes = 0;
    const VulkanContext& ctx = vulkanContext();
    if (!ctx.allocator) return kVkRequestRefused;
    const VkPhysicalDeviceMemoryProperties* properties = nullptr;
    vmaGetMemoryProperties(ctx.allocator, &properties);
    if (!properties || properties->memoryHeapCount < 1 || properties->memoryHeapCount > 16) return kVkRequestRefused;
    VmaBudget budgets[VK_MAX_MEMORY_HEAPS] = {};
    vmaGetHeapBudgets(ctx.allocator, budgets);
    for (uint32_t heap = 0; heap < properties->memoryHeapCount; ++heap) {
        if (!(properties->memoryHeaps[heap].flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT)) continue;
        *total_bytes += properties->memoryHeaps[heap].size;
        if (budgets[heap].usage < budgets[heap].budget) *free_bytes += budgets[heap].budget - budgets[heap].usage;
    }
    return 0;
}

}  // namespace kvn
