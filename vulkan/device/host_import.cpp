#include "vulkan/device/host_import.h"

#include <cstdio>

#include "vulkan/device/host_allocations.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

// A stamp for the least-recently-used order: the monotonic clock, made
// strictly increasing so that two claims in one tick still order.
uint64_t useStamp() {
    static uint64_t last = 0;  // under the import lock
    const uint64_t now = static_cast<uint64_t>(hostTimeMs() * 1e6);
    last = now > last ? now : last + 1;
    return last;
}

void destroyImport(VkBuffer buffer, VkDeviceMemory memory) {
    const VulkanContext& ctx = vulkanContext();
    if (buffer && ctx.vk.vkDestroyBuffer) ctx.vk.vkDestroyBuffer(ctx.device, buffer, nullptr);
    if (memory && ctx.vk.vkFreeMemory) ctx.vk.vkFreeMemory(ctx.device, memory, nullptr);
}

void clearSlot(HostImportSlot& slot) {
    destroyImport(slot.buffer, slot.memory);
    slot = HostImportSlot{};
}

void printImportMemType(const char* label, uint32_t index, VkMemoryPropertyFlags flags) {
    auto has = [flags](VkMemoryPropertyFlags bit) { return (flags & bit) ? "true" : "false"; };
    std::fprintf(stderr, "import-mem-type[%s] idx=%u flags=0x%x HOST_VISIBLE=%s HOST_COHERENT=%s HOST_CACHED=%s DEVICE_LOCAL=%s\n",
                 label, index, flags, has(VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT), has(VK_MEMORY_PROPERTY_HOST_COHERENT_BIT),
                 has(VK_MEMORY_PROPERTY_HOST_CACHED_BIT), has(VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT));
}

// Among the host-visible candidates: prefer not device-local, then not
// cached for a source, cached for a destination. -1 when none is host-visible.
int32_t chooseMemoryType(uint32_t candidates, ImportDirection direction) {
    const VkPhysicalDeviceMemoryProperties& properties = vulkanContext().memory_properties;
    int32_t chosen = -1;
    for (uint32_t type = 0; type < properties.memoryTypeCount; ++type) {
        if (!(candidates & (1u << type))) continue;
        const VkMemoryPropertyFlags flags = properties.memoryTypes[type].propertyFlags;
        if (!(flags & VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT)) continue;
        if (chosen < 0) {
            chosen = static_cast<int32_t>(type);
            continue;
        }
        const VkMemoryPropertyFlags best = properties.memoryTypes[chosen].propertyFlags;
        const bool local = flags & VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
        const bool best_local = best & VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
        const bool cached = flags & VK_MEMORY_PROPERTY_HOST_CACHED_BIT;
        const bool best_cached = best & VK_MEMORY_PROPERTY_HOST_CACHED_BIT;
        const bool want_cached = direction == ImportDirection::DeviceToHost;
        if ((best_local && !local) || (best_local == local && best_cached != want_cached && cached == want_cached))
            chosen = static_cast<int32_t>(type);
    }
    return chosen;
}

// Called under the import lock: the first empty slot, else the least
// recently used idle one (lowest index on a tie), which is evicted.
int32_t claimImportSlot(uint64_t base, uint64_t size, VkBuffer buffer, VkDeviceMemory memory,
                        ImportDirection direction) {
    HostImportSlot* slots = vulkanContext().import_slots;
    int32_t chosen = -1;
    for (uint32_t i = 0; i < kHostImportSlots && chosen < 0; ++i)
        if (!slots[i].valid) chosen = static_cast<int32_t>(i);
    if (chosen < 0) {
        for (uint32_t i = 0; i < kHostImportSlots; ++i)
            if (!slots[i].in_use && (chosen < 0 || slots[i].last_use < slots[chosen].last_use))
                chosen = static_cast<int32_t>(i);
        if (chosen < 0) return -1;
        clearSlot(slots[chosen]);
    }
    HostImportSlot& slot = slots[chosen];
    slot.valid = 1;
    slot.base = base;
    slot.size = size;
    slot.buffer = buffer;
    slot.memory = memory;
    slot.last_use = useStamp();
    slot.in_use = 1;
    slot.direction = static_cast<uint8_t>(direction);
    return chosen;
}

// Creates the buffer and imported memory for [base, base + size); false leaves nothing behind.
bool createImport(uint64_t base, uint64_t size, ImportDirection direction, VkBuffer* buffer, VkDeviceMemory* memory) {
    VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    VkMemoryHostPointerPropertiesEXT pointer_properties{VK_STRUCTURE_TYPE_MEMORY_HOST_POINTER_PROPERTIES_EXT};
    if (vk.vkGetMemoryHostPointerPropertiesEXT(ctx.device, VK_EXTERNAL_MEMORY_HANDLE_TYPE_HOST_ALLOCATION_BIT_EXT,
                                               reinterpret_cast<void*>(base), &pointer_properties) != VK_SUCCESS ||
        pointer_properties.memoryTypeBits == 0)
        return false;

    const uint32_t families[2] = {ctx.compute_family, ctx.transfer_family};
    const VkExternalMemoryBufferCreateInfo external{VK_STRUCTURE_TYPE_EXTERNAL_MEMORY_BUFFER_CREATE_INFO, nullptr,
                                                    VK_EXTERNAL_MEMORY_HANDLE_TYPE_HOST_ALLOCATION_BIT_EXT};
    VkBufferCreateInfo buffer_info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO, &external};
    buffer_info.size = size;
    buffer_info.usage = direction == ImportDirection::HostToDevice ? VK_BUFFER_USAGE_TRANSFER_SRC_BIT
                                                                  : VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    buffer_info.sharingMode = ctx.separate_transfer_family ? VK_SHARING_MODE_CONCURRENT : VK_SHARING_MODE_EXCLUSIVE;
    buffer_info.queueFamilyIndexCount = ctx.separate_transfer_family ? 2 : 0;
    buffer_info.pQueueFamilyIndices = ctx.separate_transfer_family ? families : nullptr;
    if (vk.vkCreateBuffer(ctx.device, &buffer_info, nullptr, buffer) != VK_SUCCESS) return false;

    VkMemoryRequirements requirements{};
    vk.vkGetBufferMemoryRequirements(ctx.device, *buffer, &requirements);
    const int32_t type = chooseMemoryType(pointer_properties.memoryTypeBits & requirements.memoryTypeBits, direction);
    if (type < 0) {
        destroyImport(*buffer, VK_NULL_HANDLE);
        return false;
    }
    bool& reported = direction == ImportDirection::HostToDevice ? ctx.source_type_reported : ctx.destination_type_reported;
    if (!reported) {
        reported = true;
        if (envPresent("KVN_VK_PROFILE_PHASES"))
            printImportMemType(direction == ImportDirection::HostToDevice ? "H2D-SRC" : "D2H-DST", type,
                               ctx.memory_properties.memoryTypes[type].propertyFlags);
    }

    const VkImportMemoryHostPointerInfoEXT import_info{VK_STRUCTURE_TYPE_IMPORT_MEMORY_HOST_POINTER_INFO_EXT, nullptr,
                                                       VK_EXTERNAL_MEMORY_HANDLE_TYPE_HOST_ALLOCATION_BIT_EXT,
                                                       reinterpret_cast<void*>(base)};
    const VkMemoryAllocateInfo allocate{VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO, &import_info, size,
                                        static_cast<uint32_t>(type)};
    if (vk.vkAllocateMemory(ctx.device, &allocate, nullptr, memory) != VK_SUCCESS) {
        (direction == ImportDirection::HostToDevice ? ctx.source_import_failed : ctx.destination_import_failed) = true;
        destroyImport(*buffer, VK_NULL_HANDLE);
        return false;
    }
    if (vk.vkBindBufferMemory(ctx.device, *buffer, *memory, 0) != VK_SUCCESS) {
        destroyImport(*buffer, *memory);
        return false;
    }
    return true;
}

}  // namespace

std::optional<HostImport> importHostRange(const void* address, uint64_t bytes, ImportDirection direction) {
    VulkanContext& ctx = vulkanContext();
    if (!ctx.host_import_usable || !isInsideHostAllocation(address, bytes)) return std::nullopt;

    LockGuard guard(ctx.import_lock);
    const bool failed =
        direction == ImportDirection::HostToDevice ? ctx.source_import_failed : ctx.destination_import_failed;
    if (ctx.import_alignment == 0 || bytes == 0 || failed) return std::nullopt;
    const uint64_t alignment = ctx.import_alignment;
    const uint64_t address_value = reinterpret_cast<uintptr_t>(address);
    const uint64_t base = address_value / alignment * alignment;
    const uint64_t offset = address_value - base;
    const uint64_t size = (offset + bytes + alignment - 1) / alignment * alignment;

    for (uint32_t i = 0; i < kHostImportSlots; ++i) {
        HostImportSlot& slot = ctx.import_slots[i];
        if (slot.valid && !slot.stale && !slot.in_use && slot.base == base && slot.size == size &&
            slot.direction == static_cast<uint8_t>(direction)) {
            slot.last_use = useStamp();
            slot.in_use = 1;
            return HostImport{slot.buffer, slot.memory, offset, static_cast<int32_t>(i)};
        }
    }
    HostImport import;
    import.offset = offset;
    if (!createImport(base, size, direction, &import.buffer, &import.memory)) return std::nullopt;
    import.slot = claimImportSlot(base, size, import.buffer, import.memory, direction);
    return import;
}

void pinImportSlot(int32_t slot) {
    if (slot < 0 || slot >= static_cast<int32_t>(kHostImportSlots)) return;
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.import_lock);
    if (ctx.import_slots[slot].valid) ctx.import_slots[slot].in_use = 1;
}

void unpinImportSlot(int32_t slot) {
    if (slot < 0 || slot >= static_cast<int32_t>(kHostImportSlots)) return;
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.import_lock);
    HostImportSlot& s = ctx.import_slots[slot];
    if (!s.valid) return;
    s.in_use = 0;
    if (s.stale) clearSlot(s);
}

void releaseImport(VkBuffer buffer, VkDeviceMemory memory, int32_t slot) {
    // Work that a wedge left running may still read or write the import.
    if (deviceWedged()) return;
    if (slot >= 0)
        unpinImportSlot(slot);
    else
        destroyImport(buffer, memory);
}

bool pinParkedDestination(int32_t slot, const void* dst, uint64_t bytes) {
    if (slot < 0 || slot >= static_cast<int32_t>(kHostImportSlots)) return false;
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.import_lock);
    HostImportSlot& s = ctx.import_slots[slot];
    const uint64_t alignment = ctx.import_alignment;
    if (!s.valid || s.stale || s.direction != static_cast<uint8_t>(ImportDirection::DeviceToHost) || alignment == 0)
        return false;
    const uint64_t address = reinterpret_cast<uintptr_t>(dst);
    const uint64_t base = address / alignment * alignment;
    const uint64_t size = (address - base + bytes + alignment - 1) / alignment * alignment;
    if (s.base != base || s.size != size) return false;
    s.in_use = 1;
    return true;
}

void releaseHostImports(const void* base, uint64_t bytes) {
    if (deviceWedged()) return;
    VulkanContext& ctx = vulkanContext();
    const uint64_t begin = reinterpret_cast<uintptr_t>(base);
    const uint64_t end = begin + bytes;
    LockGuard guard(ctx.import_lock);
    for (HostImportSlot& slot : ctx.import_slots) {
        if (!slot.valid || slot.base >= end || slot.base + slot.size <= begin) continue;
        if (slot.in_use)
            slot.stale = 1;
        else
            clearSlot(slot);
    }
}

}  // namespace kvn
