#include "vulkan/device/host_allocations.h"

#include <new>
#include "vulkan/device/vk_errors.h"

#include "vulkan/device/host_import.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

constexpr uint64_t kPageBytes = 4096;

// What a zero-byte request gets: a non-null address that owns no pages.
alignas(kPageBytes) char g_empty_allocation;

}  // namespace

int32_t procMemAllocHost(void** out, uint64_t bytes) {
    if (!out || bytes > UINT64_MAX - (kPageBytes - 1)) return kVkRequestRefused;
    const uint64_t size = (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
    void* pages = size ? allocPages(size) : &g_empty_allocation;
    if (!pages) return VK_ERROR_OUT_OF_HOST_MEMORY;
    VulkanContext& ctx = vulkanContext();
    bool listed = true;
    {
        LockGuard guard(ctx.registry_lock);
        try {
            ctx.host_allocations.push_back(HostAllocation{pages, size});
        } catch (const std::bad_alloc&) {
            listed = false;
        }
    }
    if (!listed) {
        if (size) freePages(pages, size);
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    }
    *out = pages;
    return 0;
}

int32_t procMemFreeHost(void* pointer) {
    VulkanContext& ctx = vulkanContext();
    HostAllocation found;
    {
        LockGuard guard(ctx.registry_lock);
        size_t index = 0;
        while (index < ctx.host_allocations.size() && ctx.host_allocations[index].pointer != pointer) ++index;
        if (index == ctx.host_allocations.size()) return kVkRequestRefused;
        found = ctx.host_allocations[index];
        ctx.host_allocations[index] = ctx.host_allocations.back();
        ctx.host_allocations.pop_back();
    }
    // An import left behind would be reused for whatever the pages hold next.
    releaseHostImports(found.pointer, found.size);
    if (found.size) freePages(found.pointer, found.size);
    return 0;
}

bool isInsideHostAllocation(const void* address, uint64_t bytes) {
    VulkanContext& ctx = vulkanContext();
    const uintptr_t begin = reinterpret_cast<uintptr_t>(address);
    LockGuard guard(ctx.registry_lock);
    for (const HostAllocation& a : ctx.host_allocations) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(a.pointer);
        if (start <= begin && begin - start <= a.size && bytes <= a.size - (begin - start)) return true;
    }
    return false;
}

}  // namespace kvn
