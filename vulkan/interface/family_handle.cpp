#include "vulkan/interface/family_handle.h"

namespace kvn {

void joinFamilyJobs(KvnHandle* handle) {
    VulkanFamilyHandle* family = asVulkanFamily(handle);
    if (!family) return;
    joinAsyncJob(family->async_compress);
    joinAsyncJob(family->async_decompress);
}

}  // namespace kvn
