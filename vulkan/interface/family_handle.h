// The Vulkan-family handle (kvnCreate_vk): the interface handle plus one
// asynchronous job slot per direction and a table of registered buffers.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/handle/handle.h"
#include "vulkan/interface/async_slot.h"
#include "vulkan/interface/registered_buffers.h"

namespace kvn {

struct VulkanFamilyHandle : KvnHandle {
    AsyncSlot async_compress;
    AsyncSlot async_decompress;
    RegisteredBuffer registered[kMaxRegisteredBuffers] = {};
    uint32_t registered_count = 0;
};

// Handles are destroyed through their KvnHandle part.
static_assert(std::is_trivially_destructible_v<AsyncSlot> && std::is_trivially_destructible_v<RegisteredBuffer>);

// The Vulkan-family record behind a non-null handle, or nullptr when the
// handle has the interface shape.
inline VulkanFamilyHandle* asVulkanFamily(void* handle) {
    auto* h = static_cast<KvnHandle*>(handle);
    return h->shape == HandleShape::VulkanFamily ? static_cast<VulkanFamilyHandle*>(h) : nullptr;
}

// Joins the jobs a Vulkan-family handle has in flight or left uncollected.
void joinFamilyJobs(KvnHandle* handle);

}  // namespace kvn
