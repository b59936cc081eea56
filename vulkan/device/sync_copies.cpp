// The synchronous copies: through the process-wide upload and readback
// staging buffers, or for large gathers straight into imported host memory.
#include <cstring>
#include "vulkan/device/vk_errors.h"
#include <new>
#include <vector>

#include "vulkan/device/copies.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/host_import.h"
#include "vulkan/device/staging_buffers.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

using copy_commands::recordCopy;
using copy_commands::recordSplitCopy;

// Gathers spanning at most this many bytes go region by region through the readback buffer.
constexpr uint64_t kGatherImportAbove = 0x3FFFFF;

// Holds the sync lock (`road`): device bytes to host memory through the readback buffer.
int32_t readBack(SyncRoad& road, void* dst, const BufferView& src, uint64_t bytes, uint64_t src_offset) {
    const VulkanContext& ctx = vulkanContext();
    if (!ensureReadbackBuffer(bytes) || !ctx.readback_staging.mapped) return kVkRequestRefused;
    if (int32_t r = road.begin(); r != 0) return r;
    recordSplitCopy(road.cb(), src.buffer, src_offset, ctx.readback_staging.buffer, 0, bytes);
    if (int32_t r = road.submitAndWait("one-shot submit"); r != 0) return r;
    std::memcpy(dst, ctx.readback_staging.mapped, bytes);
    return 0;
}

int32_t gatherByRegion(SyncRoad& road, uint8_t* dst_base, const BufferView& src, const CopyRegion* regions,
                       uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        if (regions[i].size == 0) continue;
        if (int32_t r = readBack(road, dst_base + regions[i].dstOffset, src, regions[i].size, regions[i].srcOffset);
            r != 0)
            return r;
    }
    return 0;
}

bool ensureGatherObjects() {
    VulkanContext& ctx = vulkanContext();
    if (!ctx.gather_cb) {
        VkCommandBufferAllocateInfo info{VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO, nullptr, ctx.transfer_pool,
                                         VK_COMMAND_BUFFER_LEVEL_PRIMARY, 1};
        if (ctx.vk.vkAllocateCommandBuffers(ctx.device, &info, &ctx.gather_cb) != VK_SUCCESS) {
            ctx.gather_cb = VK_NULL_HANDLE;
            return false;
        }
    }
    if (!ctx.gather_fence) {
        VkFenceCreateInfo info{VK_STRUCTURE_TYPE_FENCE_CREATE_INFO};
        if (ctx.vk.vkCreateFence(ctx.device, &info, nullptr, &ctx.gather_fence) != VK_SUCCESS) {
            ctx.gather_fence = VK_NULL_HANDLE;
            return false;
        }
    }
    return true;
}

// One transfer into the imported destination; empty when that road is not
// open, so the caller copies region by region instead.
std::optional<int32_t> gatherThroughImport(const HostImport& import, const BufferView& src, const CopyRegion* regions,
                                           uint64_t count) {
    const VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    if (!ensureGatherObjects() || !vk.vkResetFences) return std::nullopt;
    std::vector<VkBufferCopy> shifted;
    try {
        shifted.resize(count);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    uint32_t used = 0;
    for (uint64_t i = 0; i < count; ++i)
        if (regions[i].size) shifted[used++] = {regions[i].srcOffset, regions[i].dstOffset + import.offset, regions[i].size};
    if (beginCommandBuffer(ctx.gather_cb, "reset gather") != 0) return std::nullopt;
    vk.vkCmdCopyBuffer(ctx.gather_cb, src.buffer, import.buffer, used, shifted.data());
    if (vk.vkEndCommandBuffer(ctx.gather_cb) != VK_SUCCESS) return std::nullopt;
    if (vk.vkResetFences(ctx.device, 1, &ctx.gather_fence) != VK_SUCCESS) return std::nullopt;
    VkSubmitInfo submit{VK_STRUCTURE_TYPE_SUBMIT_INFO};
    submit.commandBufferCount = 1;
    submit.pCommandBuffers = &ctx.gather_cb;
    if (VkResult r = submitToQueue(ctx.transfer_queue, submit, ctx.gather_fence); r != VK_SUCCESS) return r;
    return waitFences(1, &ctx.gather_fence, "gather D2H");
}

}  // namespace

int32_t procMemcpyHtoD(DeviceBufferHandle dst, const void* src, uint64_t bytes) {
    const std::optional<BufferView> view = lookupBuffer(dst);
    if (!view || !rangeFits(0, bytes, view->size) || (bytes && !src)) return kVkRequestRefused;
    if (bytes == 0) return 0;
    const VulkanContext& ctx = vulkanContext();
    SyncRoad road;
    if (!ensureUploadBuffer(bytes) || !ctx.upload_staging.mapped) return kVkRequestRefused;
    std::memcpy(ctx.upload_staging.mapped, src, bytes);
    if (int32_t r = road.begin(); r != 0) return r;
    recordCopy(road.cb(), ctx.upload_staging.buffer, 0, view->buffer, 0, bytes);
    return road.submitAndWait("one-shot submit");
}

int32_t procMemcpyDtoH(void* dst, DeviceBufferHandle src, uint64_t bytes) {
    return procMemcpyDtoHSrcOffset(dst, src, bytes, 0);
}

int32_t procMemcpyDtoHSrcOffset(void* dst, DeviceBufferHandle src, uint64_t bytes, uint64_t src_offset) {
    const std::optional<BufferView> view = lookupBuffer(src);
    if (!view || !rangeFits(src_offset, bytes, view->size) || (bytes && !dst)) return kVkRequestRefused;
    if (bytes == 0) return 0;
    SyncRoad road;
    return readBack(road, dst, *view, bytes, src_offset);
}

int32_t procMemcpyDtoHGather(void* dst_base, DeviceBufferHandle src, const CopyRegion* regions, uint64_t count) {
    if (count == 0) return 0;
    const std::optional<BufferView> view = lookupBuffer(src);
    if (!view || !regions || !dst_base) return kVkRequestRefused;
    uint64_t span = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const CopyRegion& r = regions[i];
        if (!rangeFits(r.srcOffset, r.size, view->size) || r.dstOffset > UINT64_MAX - r.size) return kVkRequestRefused;
        if (r.size && r.dstOffset + r.size > span) span = r.dstOffset + r.size;
    }
    if (span == 0) return 0;
    uint8_t* dst = static_cast<uint8_t*>(dst_base);

    SyncRoad road;
    std::optional<HostImport> import;
    if (span > kGatherImportAbove) import = importHostRange(dst, span, ImportDirection::DeviceToHost);
    if (!import) return gatherByRegion(road, dst, *view, regions, count);
    const std::optional<int32_t> result = gatherThroughImport(*import, *view, regions, count);
    releaseImport(import->buffer, import->memory, import->slot);
    return result ? *result : gatherByRegion(road, dst, *view, regions, count);
}

}  // namespace kvn
