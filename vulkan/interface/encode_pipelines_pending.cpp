#include "vulkan/interface/encode_pipelines_pending.h"

#include "vulkan/device/vulkan_context.h"

namespace kvn {

// Weak, so that the device layer's definition replaces it when it lands.
__attribute__((weak)) bool ensureEncodePipelines() { return ensureVulkanContext(); }

}  // namespace kvn
