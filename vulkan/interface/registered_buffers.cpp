#include "vulkan/interface/registered_buffers.h"

#include "vulkan/interface/family_handle.h"

namespace kvn {
namespace {

// Index of the first entry with this key, or registered_count.
uint32_t findRegistered(const VulkanFamilyHandle& handle, uint64_t key) {
    uint32_t i = 0;
    while (i < handle.registered_count && handle.registered[i].key != key) ++i;
    return i;
}

}  // namespace

KvnStatus registerBuffer(VulkanFamilyHandle& handle, uint64_t aux0, uint64_t key, uint64_t aux1) {
    if (aux1 == 0) return KVN_STATUS_INVALID_ARGUMENT;
    if (handle.registered_count == kMaxRegisteredBuffers) return KVN_STATUS_OUT_OF_MEMORY;
    if (key == 0) return KVN_STATUS_INVALID_ARGUMENT;
    handle.registered[handle.registered_count++] = {key, aux0, aux1};
    return KVN_STATUS_SUCCESS;
}

void unregisterBuffer(VulkanFamilyHandle& handle, uint64_t key) {
    if (key == 0) return;
    const uint32_t i = findRegistered(handle, key);
    if (i == handle.registered_count) return;
    const uint32_t last = --handle.registered_count;
    handle.registered[i] = handle.registered[last];
    handle.registered[last] = {};
}

bool isRegisteredBuffer(const VulkanFamilyHandle& handle, uint64_t value) {
    return value != 0 && findRegistered(handle, value) != handle.registered_count;
}

}  // namespace kvn
