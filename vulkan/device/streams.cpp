#include "vulkan/device/streams.h"

#include <atomic>
#include "vulkan/device/vk_errors.h"

#include "vulkan/device/events.h"
#include "vulkan/device/host_import.h"
#include "vulkan/device/stream_staging.h"
#include "vulkan/device/submission.h"
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

// Each stream records from pools of its own: a command pool may be used by
// one thread at a time, and streams run on their callers' threads.
bool createCommandPool(const VulkanContext& ctx, uint32_t family, VkCommandPool* out) {
    const VkCommandPoolCreateInfo info{VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO, nullptr,
                                       VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT, family};
    if (ctx.vk.vkCreateCommandPool(ctx.device, &info, nullptr, out) == VK_SUCCESS) return true;
    *out = VK_NULL_HANDLE;
    return false;
}

void destroyCommandPool(const VulkanContext& ctx, VkCommandPool& pool) {
    if (pool) ctx.vk.vkDestroyCommandPool(ctx.device, pool, nullptr);
    pool = VK_NULL_HANDLE;
}

void destroyAuxSet(const VulkanContext& ctx, StreamRecord& s) {
    destroyFence(ctx, s.d2h_fence);
    destroyFence(ctx, s.aux_fence);
    destroySemaphore(ctx, s.compute_to_d2h);
    destroySemaphore(ctx, s.compute_to_aux);
    freeCommandBuffer(ctx, s.transfer_pool, s.d2h_cb);
    freeCommandBuffer(ctx, s.compute_pool, s.aux_cb);
}

void destroyCommandObjects(const VulkanContext& ctx, StreamRecord& s) {
    destroyAuxSet(ctx, s);
    destroySemaphore(ctx, s.transfer_done);
    freeCommandBuffer(ctx, s.transfer_pool, s.transfer_cb);
    destroyFence(ctx, s.compute_fence);
    freeCommandBuffer(ctx, s.compute_pool, s.compute_cb);
    destroyCommandPool(ctx, s.transfer_pool);
    destroyCommandPool(ctx, s.compute_pool);
}

}  // namespace

int32_t procStreamCreate(uint64_t* out, uint32_t /*flags*/) {
    VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    if (!out || !vk.vkFreeCommandBuffers || !vk.vkDestroyFence || !vk.vkCreateSemaphore || !vk.vkDestroySemaphore ||
        !vk.vkDestroyCommandPool)
        return kVkRequestRefused;
    LockGuard guard(ctx.registry_lock);

    StreamRecord s;
    const bool core = createCommandPool(ctx, ctx.compute_family, &s.compute_pool) &&
                      createCommandPool(ctx, ctx.transfer_family, &s.transfer_pool) &&
                      allocateCommandBuffer(ctx, s.compute_pool, &s.compute_cb) &&
                      createFence(ctx, &s.compute_fence) &&
                      allocateCommandBuffer(ctx, s.transfer_pool, &s.transfer_cb) &&
                      createSemaphore(ctx, &s.transfer_done);
    if (!core) {
        destroyCommandObjects(ctx, s);
        return kVkRequestRefused;
    }
    // A stream without the auxiliary set still works, without aux mode.
    if (allocateCommandBuffer(ctx, s.compute_pool, &s.aux_cb)) {
        const bool aux = allocateCommandBuffer(ctx, s.transfer_pool, &s.d2h_cb) &&
                         createSemaphore(ctx, &s.compute_to_aux) && createSemaphore(ctx, &s.compute_to_d2h) &&
                         createFence(ctx, &s.aux_fence) && createFence(ctx, &s.d2h_fence);
        if (!aux) destroyAuxSet(ctx, s);
    }
    s.live = true;

    // Records are used without the lock by their streams' threads, so the
    // array never grows past the room reserved at bring-up: moving it would
    // pull live records from under them.
    size_t index = 0;
    while (index < ctx.streams.size() && ctx.streams[index].live) ++index;
    if (index == ctx.streams.capacity()) {
        destroyStreamProgress(s.progress);
        destroyCommandObjects(ctx, s);
        return kVkRequestRefused;
    }
    if (index == ctx.streams.size()) ctx.streams.emplace_back();
    ctx.streams[index] = std::move(s);
    *out = index + 1;
    return 0;
}

int32_t procStreamDestroy(StreamHandle stream) {
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.registry_lock);
    if (stream == 0 || stream > ctx.streams.size() || !ctx.streams[stream - 1].live) return 0;
    StreamRecord& s = ctx.streams[stream - 1];
    destroyStreamStaging(s);
    destroyStreamProgress(s.progress);
    runDeferredReleases(s);
    destroyChain(s.transient_pools);
    destroyChain(s.cached_pools);
    destroyCommandObjects(ctx, s);
    s = StreamRecord{};
    return 0;
}

StreamRecord* streamRecord(StreamHandle stream) {
    VulkanContext& ctx = vulkanContext();
    if (stream == 0 || stream > ctx.streams.size()) return nullptr;
    StreamRecord& s = ctx.streams[stream - 1];
    return s.live ? &s : nullptr;
}

namespace {

// Begins `cb` when `begun` is clear; every recording operation calls this first.
int32_t beginOnce(StreamRecord& s, VkCommandBuffer cb, bool& begun, const char* trace_label) {
    if (begun) return 0;
    if (int32_t r = beginCommandBuffer(cb, trace_label); r != 0) return r;
    begun = true;
    std::atomic_ref<uintptr_t>(s.recorder).store(currentThreadTag(), std::memory_order_relaxed);
    return 0;
}

}  // namespace

int32_t streamBegin(StreamRecord& s) {
    const bool was_begun = s.compute_begun;
    if (int32_t r = beginOnce(s, s.compute_cb, s.compute_begun, "reset streamBegin"); r != 0) return r;
    if (!was_begun) writeProfileStartStamp(s.compute_cb);
    return 0;
}

int32_t streamBeginAux(StreamRecord& s) {
    return s.hasAuxSet() ? beginOnce(s, s.aux_cb, s.aux_begun, "reset streamBeginAux") : kVkRequestRefused;
}

int32_t streamBeginTransfer(StreamRecord& s) {
    return beginOnce(s, s.transfer_cb, s.transfer_begun, "reset streamBeginTransfer");
}

int32_t streamBeginXferD2H(StreamRecord& s) {
    return s.hasAuxSet() ? beginOnce(s, s.d2h_cb, s.d2h_begun, "reset streamBeginXferD2H") : kVkRequestRefused;
}

bool recordedByThisThread(const StreamRecord& s) {
    return std::atomic_ref<uintptr_t>(const_cast<uintptr_t&>(s.recorder)).load(std::memory_order_relaxed) ==
           currentThreadTag();
}

void clearRecorder(StreamRecord& s) { std::atomic_ref<uintptr_t>(s.recorder).store(0, std::memory_order_relaxed); }

void runDeferredReleases(StreamRecord& s) {
    for (const DeferredRelease& release : s.deferred_releases) releaseImport(release.buffer, release.memory, release.slot);
    s.deferred_releases.clear();
}

}  // namespace kvn
