// Vulkan family: creating and destroying the handle that carries the
// asynchronous slots and the registered buffers.
#include "core/interface/interface_support.h"
#include "vulkan/interface/family_handle.h"

using namespace kvn;

extern "C" {

KVN_API KvnStatus kvnCreate_vk(void** out) {
    return createHandleRecord<VulkanFamilyHandle>(out, HandleShape::VulkanFamily, KVN_STATUS_FEATURE_MISSING);
}

KVN_API void kvnDestroy_vk(void* handle) { destroyHandle(asHandle(handle)); }

}  // extern "C"
