// The host-memory import cache: pages handed out by memAllocHost are
// imported as device-visible memory, so that large copies skip the staging
// buffers. The 16 most recent imports are kept for reuse.
#pragma once

#include <cstdint>
#include <optional>

#include "vulkan/device/vulkan_api.h"

namespace kvn {

enum class ImportDirection : uint8_t { DeviceToHost = 0, HostToDevice = 1 };

struct HostImport {
    VkBuffer buffer = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    uint64_t offset = 0;  // of the host address inside the imported range
    int32_t slot = -1;    // cache slot, or -1 for an import outside the cache
};

// Imports [address, address + bytes) when it lies inside one memAllocHost
// allocation. A cached result comes back pinned (so that nothing evicts it
// before the copy is recorded); a result with slot -1 belongs to the caller.
// Empty when importing is not possible: the caller stages the copy instead.
std::optional<HostImport> importHostRange(const void* address, uint64_t bytes, ImportDirection direction);

void pinImportSlot(int32_t slot);
void unpinImportSlot(int32_t slot);
// After the copy: unpins a cached import, destroys one outside the cache.
void releaseImport(VkBuffer buffer, VkDeviceMemory memory, int32_t slot);

// Pins a parked device-to-host import's slot when it still holds the import
// of exactly [dst, dst + bytes) at the current alignment.
bool pinParkedDestination(int32_t slot, const void* dst, uint64_t bytes);

// Drops the cached imports that overlap [base, base + bytes): idle ones at
// once, pinned ones when their copy releases them. Called before the range
// is given back.
void releaseHostImports(const void* base, uint64_t bytes);

}  // namespace kvn
