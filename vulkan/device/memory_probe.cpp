#include "vulkan/device/memory_probe.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "core/platform/platform.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

template <typename... Args>
void appendf(std::string& out, const char* format, Args... args) {
    char line[160];
    const int n = std::snprintf(line, sizeof line, format, args...);
    if (n > 0) out.append(line, std::min<size_t>(static_cast<size_t>(n), sizeof line - 1));
}

}  // namespace

std::string formatVkMemoryProbe(const VkPhysicalDeviceMemoryProperties& memory, uint64_t max_storage_buffer_range) {
    std::string out = "VK memory probe:\n";
    for (uint32_t i = 0; i < memory.memoryHeapCount && i < VK_MAX_MEMORY_HEAPS; ++i) {
        const VkMemoryHeap& heap = memory.memoryHeaps[i];
        appendf(out, "  heap[%u]: size=%" PRIu64 " MB flags=0x%x (%s%s)\n", i, uint64_t{heap.size} >> 20,
                heap.flags, (heap.flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT) ? "DEVICE_LOCAL " : "",
                (heap.flags & VK_MEMORY_HEAP_MULTI_INSTANCE_BIT) ? "MULTI_INSTANCE " : "");
    }
    for (uint32_t i = 0; i < memory.memoryTypeCount && i < VK_MAX_MEMORY_TYPES; ++i)
        appendf(out, "  type[%u]: heap=%u flags=0x%x\n", i, memory.memoryTypes[i].heapIndex,
                memory.memoryTypes[i].propertyFlags);
    appendf(out, "  maxStorageBufferRange = %" PRIu64 " (%" PRIu64 " MB)\n", max_storage_buffer_range,
            max_storage_buffer_range >> 20);
    return out;
}

void printVkMemoryProbe() {
    if (!envPresent("KVN_VK_MEM_PROBE")) return;
    const VulkanContext& ctx = vulkanContext();
    const std::string text = formatVkMemoryProbe(ctx.memory_properties, ctx.max_storage_buffer_range);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace kvn
