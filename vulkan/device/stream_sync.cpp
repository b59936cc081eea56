#include "vulkan/device/stream_sync.h"

#include <cstring>
#include "vulkan/device/vk_errors.h"

#include "vulkan/device/events.h"
#include "vulkan/device/stream_staging.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

struct SubmitStep {
    VkSemaphore wait = VK_NULL_HANDLE;
    VkPipelineStageFlags wait_stage = 0;
    VkCommandBuffer cb = VK_NULL_HANDLE;
    VkSemaphore signals[2] = {};
    uint32_t signal_count = 0;
};

VkResult submit(VkQueue queue, const SubmitStep& step, VkFence fence) {
    VkSubmitInfo info{VK_STRUCTURE_TYPE_SUBMIT_INFO};
    info.waitSemaphoreCount = step.wait ? 1 : 0;
    info.pWaitSemaphores = &step.wait;
    info.pWaitDstStageMask = &step.wait_stage;
    info.commandBufferCount = step.cb ? 1 : 0;
    info.pCommandBuffers = &step.cb;
    info.signalSemaphoreCount = step.signal_count;
    info.pSignalSemaphores = step.signals;
    return submitToQueue(queue, info, fence);
}

VkResult resetFence(VkFence fence) {
    const VulkanContext& ctx = vulkanContext();
    return ctx.vk.vkResetFences(ctx.device, 1, &fence);
}

// Back to idle: nothing recorded, nothing pending, nothing staged.
void clearRecording(StreamRecord& s) {
    s.compute_begun = s.transfer_begun = s.transfer_submitted = false;
    s.aux_mode = s.aux_begun = s.d2h_begun = false;
    clearRecorder(s);
    s.staging.used = 0;
    s.pending_copies.clear();
    runDeferredReleases(s);
    retireStreamStaging(s);
    resetChain(s.transient_pools);
    for (bool& used : s.cached_set_used) used = false;
    for (CachedKernelSet& cached : s.encode_sets) cached.used = false;
}

// Ends and submits the transfer part, signalling the semaphore the compute
// part waits on.
VkResult submitTransferPart(StreamRecord& s) {
    const VulkanContext& ctx = vulkanContext();
    if (VkResult r = ctx.vk.vkEndCommandBuffer(s.transfer_cb); r != VK_SUCCESS) return r;
    SubmitStep transfer{};
    transfer.cb = s.transfer_cb;
    transfer.signals[0] = s.transfer_done;
    transfer.signal_count = 1;
    if (VkResult r = submit(ctx.transfer_queue, transfer, VK_NULL_HANDLE); r != VK_SUCCESS) return r;
    s.transfer_begun = false;
    s.transfer_submitted = true;
    return VK_SUCCESS;
}

// Submits the aux dance, or the compute part alone, and waits for its fences
// into `wait_result`. Returns the first failing call before the wait.
int32_t submitRecording(StreamRecord& s, int32_t* wait_result) {
    const VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    // Copies recorded on the compute command buffer read what the transfer
    // part wrote too, so the wait covers the transfer stage as well.
    const SubmitStep after_transfer{s.transfer_submitted ? s.transfer_done : VK_NULL_HANDLE,
                                    VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_TRANSFER_BIT};

    // Device-to-host work recorded in aux mode must be submitted even when no
    // launch followed the switch: an empty auxiliary buffer carries the chain.
    if (s.aux_mode && s.d2h_begun && !s.aux_begun)
        if (int32_t r = streamBeginAux(s); r != 0) return r;

    if (s.aux_mode && s.aux_begun) {
        if (VkResult r = vk.vkEndCommandBuffer(s.aux_cb); r != VK_SUCCESS) return r;
        if (s.d2h_begun)
            if (VkResult r = vk.vkEndCommandBuffer(s.d2h_cb); r != VK_SUCCESS) return r;
        SubmitStep compute = after_transfer;
        compute.cb = s.compute_cb;
        compute.signals[0] = s.compute_to_aux;
        compute.signals[1] = s.compute_to_d2h;
        compute.signal_count = 2;
        const SubmitStep aux{s.compute_to_aux, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_TRANSFER_BIT,
                             s.aux_cb};
        const SubmitStep d2h{s.compute_to_d2h, VK_PIPELINE_STAGE_TRANSFER_BIT, s.d2h_begun ? s.d2h_cb : VK_NULL_HANDLE};
        if (VkResult r = resetFence(s.compute_fence); r != VK_SUCCESS) return r;
        cbTrace("submit lz (aux dance)", s.compute_cb);
        if (VkResult r = submit(ctx.compute_queue, compute, s.compute_fence); r != VK_SUCCESS) return r;
        if (VkResult r = resetFence(s.aux_fence); r != VK_SUCCESS) return r;
        if (VkResult r = submit(ctx.compute_queue, aux, s.aux_fence); r != VK_SUCCESS) return r;
        if (VkResult r = resetFence(s.d2h_fence); r != VK_SUCCESS) return r;
        if (VkResult r = submit(ctx.transfer_queue, d2h, s.d2h_fence); r != VK_SUCCESS) return r;
        const VkFence fences[3] = {s.compute_fence, s.aux_fence, s.d2h_fence};
        *wait_result = waitFences(3, fences, "stream end (aux 3-fence)", s.progress.word);
        return 0;
    }
    if (!s.aux_mode) {
        writeProfileEndStamp(s.compute_cb);
        if (VkResult r = vk.vkEndCommandBuffer(s.compute_cb); r != VK_SUCCESS) return r;
    }
    SubmitStep compute = after_transfer;
    compute.cb = s.compute_cb;
    if (VkResult r = resetFence(s.compute_fence); r != VK_SUCCESS) return r;
    cbTrace("submit compute (single)", s.compute_cb);
    if (VkResult r = submit(ctx.compute_queue, compute, s.compute_fence); r != VK_SUCCESS) return r;
    *wait_result = waitFences(1, &s.compute_fence, "stream end", s.progress.word);
    return 0;
}

}  // namespace

int32_t streamEnd(StreamRecord& s) {
    const VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    if (!vk.vkResetFences) return kVkRequestRefused;

    if (s.transfer_begun) {
        if (VkResult r = submitTransferPart(s); r != VK_SUCCESS) {
            clearRecording(s);
            return r;
        }
    }

    if (!s.compute_begun) {
        const bool nothing_else = !s.transfer_submitted && !s.aux_mode && !s.aux_begun && !s.d2h_begun;
        if (nothing_else) {
            clearRecording(s);
            return 0;
        }
        if (!s.aux_mode) {
            if (int32_t r = streamBegin(s); r != 0) {
                queueWaitIdle(ctx.transfer_queue);
                clearRecording(s);
                return r;
            }
        }
    }

    int32_t wait_result = 0;
    if (int32_t r = submitRecording(s, &wait_result); r != 0) {
        // The stream stays usable: aux mode is cleared with the other flags.
        clearRecording(s);
        return r;
    }
    // After a wait that gave up, the submitted work may still run: its
    // command buffers, staging, descriptor sets and imports stay as they are,
    // and the wedge keeps the stream from being used again.
    if (wait_result != VK_SUCCESS) return wait_result;
    if (wait_result == VK_SUCCESS)
        for (const PendingHostCopy& copy : s.pending_copies)
            std::memcpy(copy.host_dst, copy.staging + copy.staging_offset, copy.bytes);
    clearRecording(s);
    return wait_result;
}

void endOpenStreams() {
    VulkanContext& ctx = vulkanContext();
    // Another thread's stream is that thread's alone: Vulkan wants a command
    // buffer recorded and submitted by one thread at a time. The records do
    // not move (their room is reserved), so they are ended outside the lock.
    std::vector<StreamRecord*> own;
    {
        LockGuard guard(ctx.registry_lock);
        for (StreamRecord& s : ctx.streams)
            if (s.live && recordedByThisThread(s)) own.push_back(&s);
    }
    for (StreamRecord* s : own)
        if (s->compute_begun) streamEnd(*s);
}

int32_t procStreamSynchronize(StreamHandle stream) {
    StreamRecord* s = streamRecord(stream);
    return s ? streamEnd(*s) : 0;
}

int32_t procStreamFlushTransfer(StreamHandle stream) {
    StreamRecord* s = streamRecord(stream);
    if (!s || !s->transfer_begun || s->transfer_submitted) return 0;
    return submitTransferPart(*s);
}

int32_t procCtxSynchronize() {
    endOpenStreams();
    return deviceWaitIdle();
}

int32_t procStreamComputeBarrier(StreamHandle stream) {
    StreamRecord* s = streamRecord(stream);
    if (!s) return 0;
    const VulkanFunctions& vk = vulkanContext().vk;
    if (!vk.vkCmdPipelineBarrier) return kVkRequestRefused;
    VkCommandBuffer cb = VK_NULL_HANDLE;
    if (s->aux_mode) {
        if (!s->hasAuxSet()) return kVkRequestRefused;
        if (int32_t r = streamBeginAux(*s); r != 0) return r;
        cb = s->aux_cb;
    } else {
        if (int32_t r = streamBegin(*s); r != 0) return r;
        cb = s->compute_cb;
    }
    const VkMemoryBarrier barrier{VK_STRUCTURE_TYPE_MEMORY_BARRIER, nullptr, VK_ACCESS_SHADER_WRITE_BIT,
                                  VK_ACCESS_SHADER_READ_BIT};
    // The progress mark after it waits for the same compute work. The word is
    // made with the stream's first barrier (a stream that never records one,
    // like the bring-up's probe, holds none); without it the stream's waits
    // give up after one wait's time.
    if (!s->progress.buffer) createStreamProgress(s->progress);
    const VkPipelineStageFlags after =
        VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | (s->progress.buffer ? kProgressMarkStage : 0);
    vk.vkCmdPipelineBarrier(cb, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, after, 0, 1, &barrier, 0, nullptr, 0, nullptr);
    recordProgressMark(s->progress, cb);
    return 0;
}

int32_t procStreamSwitchToAux(StreamHandle stream) {
    StreamRecord* s = streamRecord(stream);
    if (!s || !s->hasAuxSet() || !s->compute_to_aux || !s->compute_to_d2h || !s->compute_begun) return 0;
    if (VkResult r = vulkanContext().vk.vkEndCommandBuffer(s->compute_cb); r != VK_SUCCESS) return r;
    s->compute_begun = false;
    s->aux_mode = true;
    return 0;
}

}  // namespace kvn
