#include "vulkan/device/copies.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn::copy_commands {

namespace {

void recordBarrier(VkCommandBuffer cb, VkPipelineStageFlags from_stage, VkAccessFlags from_access,
                   VkPipelineStageFlags to_stage, VkAccessFlags to_access) {
    const VulkanFunctions& vk = vulkanContext().vk;
    if (!vk.vkCmdPipelineBarrier) return;
    const VkMemoryBarrier barrier{VK_STRUCTURE_TYPE_MEMORY_BARRIER, nullptr, from_access, to_access};
    vk.vkCmdPipelineBarrier(cb, from_stage, to_stage, 0, 1, &barrier, 0, nullptr, 0, nullptr);
}

}  // namespace

void recordCopy(VkCommandBuffer cb, VkBuffer src, uint64_t src_offset, VkBuffer dst, uint64_t dst_offset,
                uint64_t bytes) {
    const VkBufferCopy region{src_offset, dst_offset, bytes};
    vulkanContext().vk.vkCmdCopyBuffer(cb, src, dst, 1, &region);
}

void recordSplitCopy(VkCommandBuffer cb, VkBuffer src, uint64_t src_offset, VkBuffer dst, uint64_t dst_offset,
                     uint64_t bytes) {
    const uint64_t words = bytes & ~uint64_t{3};
    if (bytes <= 3 || words == bytes) {
        recordCopy(cb, src, src_offset, dst, dst_offset, bytes);
        return;
    }
    recordCopy(cb, src, src_offset, dst, dst_offset, words);
    recordCopy(cb, src, src_offset + words, dst, dst_offset + words, bytes - words);
}

void recordPreCopyBarrier(VkCommandBuffer cb) {
    recordBarrier(cb, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, VK_ACCESS_SHADER_WRITE_BIT, VK_PIPELINE_STAGE_TRANSFER_BIT,
                  VK_ACCESS_TRANSFER_READ_BIT);
}

void recordPostCopyBarrier(VkCommandBuffer cb) {
    recordBarrier(cb, VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_WRITE_BIT, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT,
                  VK_ACCESS_SHADER_READ_BIT);
}

}  // namespace kvn::copy_commands
