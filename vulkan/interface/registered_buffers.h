// Device buffers a caller registered with a Vulkan-family handle, so that
// kvnCompress_vk and kvnDecompress_vk can tell them from host pointers.
#pragma once

#include <cstdint>

#include "korvane.h"

namespace kvn {

struct VulkanFamilyHandle;

// The key is a device buffer handle; aux0 and aux1 are kept, never read.
struct RegisteredBuffer {
    uint64_t key;
    uint64_t aux0;
    uint64_t aux1;
};

inline constexpr uint32_t kMaxRegisteredBuffers = 16;

// 2 when aux1 is 0; 7 when the table is full; 2 when key is 0; else appends
// the entry (a key may be registered twice) and returns 0.
KvnStatus registerBuffer(VulkanFamilyHandle& handle, uint64_t aux0, uint64_t key, uint64_t aux1);

// Removes the first entry with this key by moving the last entry into its
// place; a key of 0 or one not registered changes nothing.
void unregisterBuffer(VulkanFamilyHandle& handle, uint64_t key);

// Whether a non-zero value is the key of a registered entry.
bool isRegisteredBuffer(const VulkanFamilyHandle& handle, uint64_t value);

}  // namespace kvn
