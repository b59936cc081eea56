// The once-per-process Vulkan bring-up: none -> running -> ready or failed,
// both final. Everything runs under the bring-up lock; the fast path reads
// the state alone.
#include "core/platform/platform.h"
#include "vulkan/device/bring_up_steps.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/init_report.h"
#include "vulkan/device/kernel_build.h"
#include "vulkan/device/memory_probe.h"
#include "vulkan/device/pipeline_cache.h"
#include "vulkan/device/staging_buffers.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

VulkanContext g_vulkan_context;

// Everything up to the pipelines; false after the failing step reported.
bool createEverything(VulkanContext& ctx) {
    if (envPresent("KVN_NO_VK")) {
        reportInitFailure("disabled via KVN_NO_VK");
        return false;
    }
    if (!openInstance(ctx) || !choosePhysicalDevice(ctx) || !createLogicalDevice(ctx) || !createContextObjects(ctx))
        return false;
    fillGpuOps();
    loadPipelineCache(ctx);
    return buildDecodeKernels(ctx);
}

// The stream that proves the device; kept for the life of the process.
bool makeProbeStream(VulkanContext& ctx) {
    if (ctx.probe_stream_made) return true;
    uint64_t stream = 0;
    if (!gpuOps().streamCreate || gpuOps().streamCreate(&stream, 0) != Error::None) return false;
    ctx.probe_stream_made = true;
    return true;
}

}  // namespace

VulkanContext& vulkanContext() { return g_vulkan_context; }

bool ensureVulkanContext() {
    VulkanContext& ctx = g_vulkan_context;
    if (ctx.state.load(std::memory_order_acquire) == ContextState::Ready) return !ctx.wedged.load(std::memory_order_acquire);
    LockGuard guard(ctx.bring_up_lock);
    switch (ctx.state.load(std::memory_order_relaxed)) {
        case ContextState::Ready: return !ctx.wedged.load(std::memory_order_acquire);
        case ContextState::Running:
        case ContextState::Failed: return false;
        case ContextState::None: break;
    }
    ctx.state.store(ContextState::Running, std::memory_order_relaxed);

    if (!createEverything(ctx)) {
        ctx.state.store(ContextState::Failed, std::memory_order_relaxed);
        destroyVulkanContext(ctx);
        return false;
    }
    // A device that cannot make a stream is unusable, but its objects stay:
    // nothing else failed. The table is emptied all the same, so that no
    // caller reaches a device the bring-up gave up on.
    if (!makeProbeStream(ctx)) {
        clearGpuOps();
        ctx.state.store(ContextState::Failed, std::memory_order_relaxed);
        return false;
    }
    ctx.state.store(ContextState::Ready, std::memory_order_release);
    printVkMemoryProbe();
    return true;
}

void destroyVulkanContext(VulkanContext& ctx) {
    clearGpuOps();
    const VulkanFunctions& vk = ctx.vk;
    if (!vk.vkGetInstanceProcAddr) return;
    if (ctx.device) {
        if (vk.vkDeviceWaitIdle) vk.vkDeviceWaitIdle(ctx.device);
        destroyDecodeKernels(ctx);
        if (ctx.pipeline_cache && vk.vkDestroyPipelineCache)
            vk.vkDestroyPipelineCache(ctx.device, ctx.pipeline_cache, nullptr);
        if (ctx.query_pool && vk.vkDestroyQueryPool) vk.vkDestroyQueryPool(ctx.device, ctx.query_pool, nullptr);
        if (vk.vkDestroyDescriptorPool) {
            if (ctx.transient_pool) vk.vkDestroyDescriptorPool(ctx.device, ctx.transient_pool, nullptr);
            if (ctx.persistent_pool) vk.vkDestroyDescriptorPool(ctx.device, ctx.persistent_pool, nullptr);
        }
        if (ctx.allocator) {
            destroyStagingBuffer(ctx.readback_staging);
            destroyStagingBuffer(ctx.upload_staging);
            vmaDestroyAllocator(ctx.allocator);
        }
        if (ctx.one_shot_fence && vk.vkDestroyFence) vk.vkDestroyFence(ctx.device, ctx.one_shot_fence, nullptr);
        if (vk.vkDestroyCommandPool) {
            if (ctx.transfer_pool) vk.vkDestroyCommandPool(ctx.device, ctx.transfer_pool, nullptr);
            if (ctx.compute_pool) vk.vkDestroyCommandPool(ctx.device, ctx.compute_pool, nullptr);
        }
        if (vk.vkDestroyDevice) vk.vkDestroyDevice(ctx.device, nullptr);
    }
    if (ctx.instance && vk.vkDestroyInstance) vk.vkDestroyInstance(ctx.instance, nullptr);

    ctx.pipeline_cache = VK_NULL_HANDLE;
    ctx.query_pool = VK_NULL_HANDLE;
    ctx.free_queries.clear();
    ctx.transient_pool = VK_NULL_HANDLE;
    ctx.persistent_pool = VK_NULL_HANDLE;
    ctx.allocator = VK_NULL_HANDLE;
    ctx.one_shot_fence = VK_NULL_HANDLE;
    ctx.one_shot_cb = VK_NULL_HANDLE;
    ctx.transfer_pool = VK_NULL_HANDLE;
    ctx.compute_pool = VK_NULL_HANDLE;
    ctx.compute_queue = VK_NULL_HANDLE;
    ctx.transfer_queue = VK_NULL_HANDLE;
    ctx.device = VK_NULL_HANDLE;
    ctx.instance = VK_NULL_HANDLE;
}

}  // namespace kvn
