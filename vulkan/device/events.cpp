#include "vulkan/device/events.h"

#include "vulkan/device/stream_sync.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vk_errors.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

// The event's query index when the handle names a live event, else -1.
int64_t liveQuery(EventHandle event) {
    const uint32_t low = static_cast<uint32_t>(event);
    if (low == 0 || low > kEventQueries) return -1;
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.event_lock);
    return ctx.event_live[low - 1] ? int64_t{low} - 1 : -1;
}

void recordTimestamp(VkCommandBuffer cb, uint32_t query, uint32_t count, VkPipelineStageFlagBits stage) {
    const VulkanContext& ctx = vulkanContext();
    ctx.vk.vkCmdResetQueryPool(cb, ctx.query_pool, query, count);
    ctx.vk.vkCmdWriteTimestamp(cb, stage, ctx.query_pool, query);
}

bool profileStampsPossible() {
    const VulkanContext& ctx = vulkanContext();
    return ctx.decode_profiling && ctx.query_pool && ctx.vk.vkCmdResetQueryPool && ctx.vk.vkCmdWriteTimestamp;
}

// Reads one 64-bit timestamp, waiting at most as long as a fence wait: a
// query whose command buffer never reaches the device must not hang the caller.
int32_t readTimestamp(uint32_t query, uint64_t* value) {
    const VulkanContext& ctx = vulkanContext();
    const double deadline = hostTimeMs() + kFenceTimeoutNs / 1e6;
    for (;;) {
        const VkResult r = ctx.vk.vkGetQueryPoolResults(ctx.device, ctx.query_pool, query, 1, sizeof *value, value,
                                                        sizeof *value, VK_QUERY_RESULT_64_BIT);
        if (r != VK_NOT_READY) return r;
        if (hostTimeMs() > deadline) {
            // Reported, but the device is not marked wedged: a stamp whose
            // command buffer was never submitted never arrives either.
            reportWedgedDevice("event elapsed time");
            return VK_TIMEOUT;
        }
    }
}

}  // namespace

int32_t procEventCreate(uint64_t* out, uint32_t /*flags*/) {
    VulkanContext& ctx = vulkanContext();
    if (!out || !ctx.query_pool) return kVkRequestRefused;
    LockGuard guard(ctx.event_lock);
    if (ctx.free_queries.empty()) return kVkRequestRefused;
    const uint32_t query = ctx.free_queries.back();
    ctx.free_queries.pop_back();
    ctx.event_live[query] = 1;
    ctx.event_recorded[query] = 0;
    *out = uint64_t{query} + 1;
    return 0;
}

int32_t procEventRecord(EventHandle event, StreamHandle stream) {
    VulkanContext& ctx = vulkanContext();
    const int64_t query = liveQuery(event);
    if (query < 0 || !ctx.query_pool || !ctx.vk.vkCmdResetQueryPool || !ctx.vk.vkCmdWriteTimestamp) return kVkRequestRefused;
    auto markRecorded = [&] {
        LockGuard guard(ctx.event_lock);
        ctx.event_recorded[query] = 1;
    };
    if (StreamRecord* s = streamRecord(stream)) {
        if (int32_t r = streamBegin(*s); r != 0) return r;
        recordTimestamp(s->compute_cb, static_cast<uint32_t>(query), 1, VK_PIPELINE_STAGE_BOTTOM_OF_PIPE_BIT);
        markRecorded();
        return 0;
    }
    SyncRoad road;
    if (int32_t r = road.begin(); r != 0) return r;
    recordTimestamp(road.cb(), static_cast<uint32_t>(query), 1, VK_PIPELINE_STAGE_BOTTOM_OF_PIPE_BIT);
    markRecorded();
    return road.submitAndWait("one-shot submit");
}

int32_t procEventSynchronize(EventHandle event) {
    if (static_cast<uint32_t>(event) == 0) return kVkRequestRefused;
    endOpenStreams();
    return deviceWaitIdle();
}

int32_t procEventElapsedTime(float* ms, EventHandle start, EventHandle end) {
    if (!ms) return kVkRequestRefused;
    *ms = 0.0f;
    VulkanContext& ctx = vulkanContext();
    const int64_t start_query = liveQuery(start);
    const int64_t end_query = liveQuery(end);
    if (start_query < 0 || end_query < 0 || !ctx.query_pool || !ctx.vk.vkGetQueryPoolResults) return kVkRequestRefused;
    {
        // A query never written since its event was made holds nothing to read.
        LockGuard guard(ctx.event_lock);
        if (!ctx.event_recorded[start_query] || !ctx.event_recorded[end_query]) return kVkRequestRefused;
    }
    uint64_t start_ticks = 0;
    uint64_t end_ticks = 0;
    if (int32_t r = readTimestamp(static_cast<uint32_t>(start_query), &start_ticks); r != VK_SUCCESS) return r;
    if (int32_t r = readTimestamp(static_cast<uint32_t>(end_query), &end_ticks); r != VK_SUCCESS) return r;
    if (end_ticks >= start_ticks)
        *ms = static_cast<float>(static_cast<double>(end_ticks - start_ticks) * gpuOps().timestamp_period / 1e6);
    return 0;
}

int32_t procEventDestroy(EventHandle event) {
    const uint32_t low = static_cast<uint32_t>(event);
    if (low == 0) return 0;
    VulkanContext& ctx = vulkanContext();
    if (low > kEventQueries) return kVkRequestRefused;
    LockGuard guard(ctx.event_lock);
    if (!ctx.event_live[low - 1]) return kVkRequestRefused;
    // The free list has room for every event query, reserved at bring-up.
    if (ctx.free_queries.size() == ctx.free_queries.capacity()) return kVkRequestRefused;
    ctx.event_live[low - 1] = 0;
    ctx.free_queries.push_back(low - 1);
    return 0;
}

void writeProfileStartStamp(VkCommandBuffer cb) {
    VulkanContext& ctx = vulkanContext();
    if (!profileStampsPossible()) return;
    ctx.profile_end_stamped = false;
    if (ctx.profile_start_stamped) return;
    recordTimestamp(cb, kProfileStartQuery, 2, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT);
    ctx.profile_start_stamped = true;
}

void writeProfileEndStamp(VkCommandBuffer cb) {
    VulkanContext& ctx = vulkanContext();
    if (!profileStampsPossible() || !ctx.profile_start_stamped || ctx.profile_end_stamped) return;
    recordTimestamp(cb, kProfileEndQuery, 1, VK_PIPELINE_STAGE_BOTTOM_OF_PIPE_BIT);
    ctx.profile_end_stamped = true;
}

}  // namespace kvn
