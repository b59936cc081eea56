#include "vulkan/device/submission.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include "vulkan/device/vk_errors.h"

#include "core/platform/fault_countdown.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

FaultCountdown g_fence_timeout_fault;
std::atomic<uint64_t> g_fence_waits{0};
std::atomic<uint64_t> g_idle_waits{0};

}  // namespace

void injectFenceTimeout(int after) { g_fence_timeout_fault.arm(after); }

HostWaitCounts hostWaitCounts() {
    HostWaitCounts counts;
    counts.fence_waits = g_fence_waits.load(std::memory_order_relaxed);
    counts.idle_waits = g_idle_waits.load(std::memory_order_relaxed);
    return counts;
}

VkResult submitToQueue(VkQueue queue, const VkSubmitInfo& submit, VkFence fence) {
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.queue_lock);
    return ctx.vk.vkQueueSubmit(queue, 1, &submit, fence);
}

int32_t deviceWaitIdle() {
    VulkanContext& ctx = vulkanContext();
    if (!ctx.vk.vkDeviceWaitIdle) return kVkRequestRefused;
    g_idle_waits.fetch_add(1, std::memory_order_relaxed);
    LockGuard guard(ctx.queue_lock);
    return ctx.vk.vkDeviceWaitIdle(ctx.device);
}

int32_t queueWaitIdle(VkQueue queue) {
    VulkanContext& ctx = vulkanContext();
    if (!ctx.vk.vkQueueWaitIdle) return kVkRequestRefused;
    g_idle_waits.fetch_add(1, std::memory_order_relaxed);
    LockGuard guard(ctx.queue_lock);
    return ctx.vk.vkQueueWaitIdle(queue);
}

bool cbTraceOn() {
    static const bool on = envPresent("KVN_VK_CB_TRACE");
    return on;
}

void cbTrace(const char* label, VkCommandBuffer cb) {
    if (cbTraceOn())
        std::fprintf(stderr, "[cb-trace] %s cb=0x%llx\n", label,
                     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(cb)));
}

void markDeviceWedged() { vulkanContext().wedged.store(true, std::memory_order_release); }

bool deviceWedged() { return vulkanContext().wedged.load(std::memory_order_acquire); }

void reportWedgedDevice(const char* label) {
    std::fprintf(stderr,
                 "error: vkWaitForFences timed out after 60 s (%s) - the device is wedged (hung shader, driver fault, "
                 "or TDR disabled). The codec cannot recover this context; restart the process. See CLAUDE.md's "
                 "diagnosis ladder before blaming the driver.\n",
                 label);
}

VkResult waitWhileProgressing(const std::function<VkResult()>& wait, const volatile uint32_t* progress) {
    uint32_t seen = progress ? *progress : 0;
    for (;;) {
        const VkResult result = wait();
        if (result != VK_TIMEOUT || !progress) return result;
        const uint32_t now = *progress;
        if (now == seen) return result;
        seen = now;
    }
}

int32_t waitFences(uint32_t count, const VkFence* fences, const char* label, const volatile uint32_t* progress) {
    const VulkanContext& ctx = vulkanContext();
    VkResult result = VK_TIMEOUT;
    g_fence_waits.fetch_add(1, std::memory_order_relaxed);
    if (g_fence_timeout_fault.fires()) {
        // The injected wedge gives up at once, with the work still in flight
        // when it has not finished yet, as a real timeout would.
        ctx.vk.vkWaitForFences(ctx.device, count, fences, VK_TRUE, 0);
    } else {
        result = waitWhileProgressing(
            [&] { return ctx.vk.vkWaitForFences(ctx.device, count, fences, VK_TRUE, kFenceTimeoutNs); }, progress);
    }
    if (cbTraceOn()) std::fprintf(stderr, "[cb-trace] waitFences(%s) rc=%d\n", label, static_cast<int>(result));
    if (result == VK_TIMEOUT) reportWedgedDevice(label);
    // Whatever ended the wait, the submitted work may still be running.
    if (result != VK_SUCCESS) markDeviceWedged();
    return result;
}

int32_t beginCommandBuffer(VkCommandBuffer cb, const char* trace_label) {
    const VulkanFunctions& vk = vulkanContext().vk;
    cbTrace(trace_label, cb);
    if (!vk.vkResetCommandBuffer) return kVkRequestRefused;
    if (VkResult r = vk.vkResetCommandBuffer(cb, 0); r != VK_SUCCESS) return r;
    const VkCommandBufferBeginInfo info{VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO, nullptr,
                                        VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT};
    return vk.vkBeginCommandBuffer(cb, &info);
}

SyncRoad::SyncRoad() : guard_(vulkanContext().sync_lock) {}

int32_t SyncRoad::begin() { return beginCommandBuffer(vulkanContext().one_shot_cb, "reset beginOneShotCB"); }

VkCommandBuffer SyncRoad::cb() const { return vulkanContext().one_shot_cb; }

int32_t SyncRoad::submitAndWait(const char* label) {
    const VulkanContext& ctx = vulkanContext();
    if (!ctx.vk.vkResetFences) return kVkRequestRefused;
    if (VkResult r = ctx.vk.vkEndCommandBuffer(ctx.one_shot_cb); r != VK_SUCCESS) return r;
    if (VkResult r = ctx.vk.vkResetFences(ctx.device, 1, &ctx.one_shot_fence); r != VK_SUCCESS) return r;
    VkSubmitInfo submit{VK_STRUCTURE_TYPE_SUBMIT_INFO};
    submit.commandBufferCount = 1;
    submit.pCommandBuffers = &ctx.one_shot_cb;
    if (VkResult r = submitToQueue(ctx.compute_queue, submit, ctx.one_shot_fence); r != VK_SUCCESS) return r;
    return waitFences(1, &ctx.one_shot_fence, label);
}

}  // namespace kvn
