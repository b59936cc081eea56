#include "vulkan/interface/device_buffer_size.h"

#include "vulkan/device/vulkan_context.h"

namespace kvn {

std::optional<uint64_t> deviceBufferSize(DeviceBufferHandle buffer) {
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.registry_lock);
    if (buffer == 0 || buffer > ctx.buffers.size()) return std::nullopt;
    const DeviceBufferEntry& entry = ctx.buffers[buffer - 1];
    if (!entry.live) return std::nullopt;
    return entry.size;
}

}  // namespace kvn
