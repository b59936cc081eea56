#include "vulkan/device/stream_progress.h"

#include "vulkan/device/staging_buffers.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

bool createStreamProgress(StreamProgress& progress) {
    void* mapped = nullptr;
    if (!createHostStagingBuffer(sizeof(uint32_t), VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT, false,
                                 &progress.buffer, &progress.allocation, &mapped))
        return false;
    progress.word = static_cast<volatile uint32_t*>(mapped);
    *const_cast<volatile uint32_t*>(progress.word) = 0;
    progress.marks = 0;
    return true;
}

void destroyStreamProgress(StreamProgress& progress) {
    if (progress.buffer) vmaDestroyBuffer(vulkanContext().allocator, progress.buffer, progress.allocation);
    progress = StreamProgress{};
}

void recordProgressMark(StreamProgress& progress, VkCommandBuffer cb) {
    const VulkanFunctions& vk = vulkanContext().vk;
    if (!progress.buffer || !vk.vkCmdFillBuffer) return;
    vk.vkCmdFillBuffer(cb, progress.buffer, 0, sizeof(uint32_t), ++progress.marks);
}

}  // namespace kvn
