#include "vulkan/device/streams.h"

#include <new>

#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

bool allocateCommandBuffer(const VulkanContext& ctx, VkCommandPool pool, VkCommandBuffer* out) {
    VkCommandBufferAllocateInfo info{VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO, nullptr, pool,
                                     VK_COMMAND_BUFFER_LEVEL_PRIMARY, 1};
    return ctx.vk.vkAllocateCommandBuffers(ctx.device, &info, out) == VK_SUCCESS;
}

bool createFence(const VulkanContext& ctx, VkFence* out) {
    VkFenceCreateInfo info{VK_STRUCTURE_TYPE_FENCE_CREATE_INFO};  // unsignalled
    return ctx.vk.vkCreateFence(ctx.device, &info, nullptr, out) == VK_SUCCESS;
}

bool createSemaphore(const VulkanContext& ctx, VkSemaphore* out) {
    VkSemaphoreCreateInfo info{VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO};
    return ctx.vk.vkCreateSemaphore(ctx.device, &info, nullptr, out) == VK_SUCCESS;
}

void freeCommandBuffer(const VulkanContext& ctx, VkCommandPool pool, VkCommandBuffer& cb) {
    if (cb) ctx.vk.vkFreeCommandBuffers(ctx.device, pool, 1, &cb);
    cb = VK_NULL_HANDLE;
}

void destroyFence(const VulkanContext& ctx, VkFence& fence) {
    if (fence) ctx.vk.vkDestroyFence(ctx.device, fence, nullptr);
    fence = VK_NULL_HANDLE;
}

void destroySemaphore(const VulkanContext& ctx, VkSemaphore& semaphore) {
    if (semaphore) ctx.vk.vkDestroySemaphore(ctx.device, semaphore, nullptr);
    semaphore = VK_NULL_HANDLE;
}

void destroyAuxSet(const VulkanContext& ctx, StreamRecord& s) {
    destroyFence(ctx, s.d2h_fence);
    destroyFence(ctx, s.aux_fence);
    destroySemaphore(ctx, s.compute_to_d2h);
    destroySemaphore(ctx, s.compute_to_aux);
    freeCommandBuffer(ctx, ctx.transfer_pool, s.d2h_cb);
    freeCommandBuffer(ctx, ctx.compute_pool, s.aux_cb);
}

void destroyCommandObjects(const VulkanContext& ctx, StreamRecord& s) {
    destroyAuxSet(ctx, s);
    destroySemaphore(ctx, s.transfer_done);
    freeCommandBuffer(ctx, ctx.transfer_pool, s.transfer_cb);
    destroyFence(ctx, s.compute_fence);
    freeCommandBuffer(ctx, ctx.compute_pool, s.compute_cb);
}

}  // namespace

int32_t procStreamCreate(uint64_t* out, uint32_t /*flags*/) {
    VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    if (!out || !vk.vkFreeCommandBuffers || !vk.vkDestroyFence || !vk.vkCreateSemaphore || !vk.vkDestroySemaphore)
        return -1;
    LockGuard guard(ctx.registry_lock);

    StreamRecord s;
    const bool core = allocateCommandBuffer(ctx, ctx.compute_pool, &s.compute_cb) &&
                      createFence(ctx, &s.compute_fence) &&
                      allocateCommandBuffer(ctx, ctx.transfer_pool, &s.transfer_cb) &&
                      createSemaphore(ctx, &s.transfer_done);
    if (!core) {
        destroyCommandObjects(ctx, s);
        return -1;
    }
    // A stream without the auxiliary set still works, without aux mode.
    if (allocateCommandBuffer(ctx, ctx.compute_pool, &s.aux_cb)) {
        const bool aux = allocateCommandBuffer(ctx, ctx.transfer_pool, &s.d2h_cb) &&
                         createSemaphore(ctx, &s.compute_to_aux) && createSemaphore(ctx, &s.compute_to_d2h) &&
                         createFence(ctx, &s.aux_fence) && createFence(ctx, &s.d2h_fence);
        if (!aux) destroyAuxSet(ctx, s);
    }
    s.live = true;

    size_t index = 0;
    while (index < ctx.streams.size() && ctx.streams[index].live) ++index;
    try {
        if (index == ctx.streams.size()) ctx.streams.emplace_back();
    } catch (const std::bad_alloc&) {
        destroyCommandObjects(ctx, s);
        return -1;
    }
    ctx.streams[index] = std::move(s);
    *out = index + 1;
    return 0;
}

}  // namespace kvn
