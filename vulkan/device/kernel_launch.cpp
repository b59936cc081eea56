#include "vulkan/device/kernel_launch.h"

#include <algorithm>
#include "vulkan/device/vk_errors.h"
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "vulkan/device/device_buffers.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

// Sets per pool of a stream's own descriptor pools.
constexpr uint32_t kStreamTransientSetsPerPool = 512;
constexpr uint32_t kStreamCachedSetsPerPool = 64;

KernelRecord* findRecord(VkPipeline pipeline) {
    VulkanContext& ctx = vulkanContext();
    for (KernelRecord& record : ctx.decode_records)
        if (record.pipeline == pipeline) return &record;
    for (KernelRecord& record : encodeRecords())
        if (record.pipeline == pipeline) return &record;
    return nullptr;
}

// The shared pool of launches with offsets and no stream. Those launches
// run one at a time under the sync lock and are finished when they return,
// so a reset frees no set that recorded work still uses.
VkResult allocateSharedTransientSet(VkDescriptorSetLayout layout, VkDescriptorSet* out) {
    VulkanContext& ctx = vulkanContext();
    LockGuard guard(ctx.transient_pool_lock);
    if (ctx.transient_sets >= kTransientSetsBeforeReset) {
        deviceWaitIdle();
        if (ctx.vk.vkResetDescriptorPool) ctx.vk.vkResetDescriptorPool(ctx.device, ctx.transient_pool, 0);
        ctx.transient_sets = 0;
    }
    const VkDescriptorSetAllocateInfo info{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO, nullptr, ctx.transient_pool,
                                           1, &layout};
    if (VkResult r = ctx.vk.vkAllocateDescriptorSets(ctx.device, &info, out); r != VK_SUCCESS) return r;
    ++ctx.transient_sets;
    return VK_SUCCESS;
}

VkResult allocateCachedSet(DescriptorPoolChain* chain, VkDescriptorSetLayout layout, VkDescriptorSet* slot) {
    if (*slot) return VK_SUCCESS;
    if (chain) return allocateFromChain(*chain, layout, kStreamCachedSetsPerPool, slot);
    const VulkanContext& ctx = vulkanContext();
    const VkDescriptorSetAllocateInfo info{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO, nullptr,
                                           ctx.persistent_pool, 1, &layout};
    const VkResult r = ctx.vk.vkAllocateDescriptorSets(ctx.device, &info, slot);
    if (r != VK_SUCCESS) *slot = VK_NULL_HANDLE;
    return r;
}

// A stream's set for this launch. A cached set is rewritten by each launch,
// so once a recording bound it, a second launch of the kernel takes a fresh
// set: rewriting it would change what the earlier dispatch reads.
VkResult streamSet(StreamRecord& s, const KernelRecord& record, bool with_offsets, VkDescriptorSet* out) {
    if (!with_offsets) {
        VkDescriptorSet* slot = nullptr;
        bool* used = nullptr;
        const uint32_t index = kernelIndexOfPipeline(record.pipeline);
        if (index < kStreamCachedSets) {
            slot = &s.cached_sets[index];
            used = &s.cached_set_used[index];
        } else {
            CachedKernelSet* cached = nullptr;
            for (CachedKernelSet& c : s.encode_sets)
                if (c.pipeline == record.pipeline) cached = &c;
            if (!cached) {
                try {
                    s.encode_sets.push_back(CachedKernelSet{record.pipeline});
                } catch (const std::bad_alloc&) {
                    return VK_ERROR_OUT_OF_HOST_MEMORY;
                }
                cached = &s.encode_sets.back();
            }
            slot = &cached->set;
            used = &cached->used;
        }
        if (!*used) {
            if (VkResult r = allocateCachedSet(&s.cached_pools, record.set_layout, slot); r != VK_SUCCESS) return r;
            *used = true;
            *out = *slot;
            return VK_SUCCESS;
        }
    }
    return allocateFromChain(s.transient_pools, record.set_layout, kStreamTransientSetsPerPool, out);
}

}  // namespace

uint32_t kernelIndexOfPipeline(VkPipeline pipeline) {
    if (!pipeline) return 0xFFFFFFFF;
    const VulkanContext& ctx = vulkanContext();
    for (uint32_t i = 0; i < kDecodeKernelCount; ++i)
        if (ctx.decode_records[i].pipeline == pipeline) return i;
    return 0xFFFFFFFF;
}

void reportSsboOffsetMisaligned(uint32_t binding, uint64_t offset, uint64_t alignment) {
    std::fprintf(stderr,
                 "error: procLaunchKernel: SSBO binding %u offset %llu violates minStorageBufferOffsetAlignment %llu\n",
                 binding, static_cast<unsigned long long>(offset), static_cast<unsigned long long>(alignment));
}

void reportBindingTooLarge(uint32_t binding, uint64_t range, uint64_t max_range) {
    std::fprintf(stderr, "error: procLaunchKernel: SSBO binding %u range %llu exceeds maxStorageBufferRange %llu\n",
                 binding, static_cast<unsigned long long>(range), static_cast<unsigned long long>(max_range));
}

void reportGridTooLarge(const uint32_t grid[3], const uint32_t limit[3]) {
    std::fprintf(stderr,
                 "error: procLaunchKernel: grid (%u,%u,%u) exceeds maxComputeWorkGroupCount (%u,%u,%u) and the kernel "
                 "reads its grid size\n",
                 grid[0], grid[1], grid[2], limit[0], limit[1], limit[2]);
}

int32_t procLaunchKernel(KernelHandle kernel, uint32_t grid_x, uint32_t grid_y, uint32_t grid_z, uint32_t /*block_x*/,
                         uint32_t /*block_y*/, uint32_t /*block_z*/, uint32_t /*shared_bytes*/, StreamHandle stream,
                         void** params, void** /*extra*/, const uint64_t* binding_offsets) {
    VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    if (!kernel) return kVkRequestRefused;
    KernelRecord* record = findRecord(pipelineOf(kernel));
    if (!record) return kVkRequestRefused;
    const uint32_t n = record->binding_count;
    const uint32_t push = record->push_bytes;
    if (n > kMaxLaunchBindings || push > kMaxPushBytes) return kVkRequestRefused;
    if ((n > 0 || push > 0) && !params) return kVkRequestRefused;
    if (push > 0 && !vk.vkCmdPushConstants) return kVkRequestRefused;

    // Everything is checked before anything is recorded.
    VkDescriptorBufferInfo buffers[kMaxLaunchBindings];
    const uint64_t alignment = ctx.min_storage_buffer_offset_alignment;
    const uint64_t max_range = deviceBindingLimit();
    for (uint32_t i = 0; i < n; ++i) {
        if (!params[i]) return kVkRequestRefused;
        const std::optional<BufferView> view = lookupBuffer(*static_cast<const DeviceBufferHandle*>(params[i]));
        if (!view) return kVkRequestRefused;
        const uint64_t offset = binding_offsets ? binding_offsets[i] : 0;
        if (offset != 0) {
            if (alignment != 0 && offset % alignment != 0) {
                reportSsboOffsetMisaligned(i, offset, alignment);
                return kVkRequestRefused;
            }
            if (offset >= view->size) return kVkRequestRefused;
        }
        // A kernel reaches only the bound range: a binding cut to the limit
        // would drop its writes and read zeros past it.
        const uint64_t range = view->size - offset;
        if (range > max_range) {
            reportBindingTooLarge(i, range, max_range);
            return kVkRequestRefused;
        }
        buffers[i] = {view->buffer, offset, range};
    }
    const uint32_t grid[3] = {grid_x, grid_y, grid_z};
    uint32_t limit[3];
    bool split = false;
    for (int d = 0; d < 3; ++d) {
        limit[d] = ctx.max_workgroup_count[d] ? ctx.max_workgroup_count[d] : UINT32_MAX;
        split = split || grid[d] > limit[d];
    }
    // Each piece of a split dispatch sees only its own workgroup count.
    if (split && (record->reads_grid_size || !vk.vkCmdDispatchBase)) {
        reportGridTooLarge(grid, limit);
        return kVkRequestRefused;
    }
    uint8_t push_data[kMaxPushBytes];
    for (uint32_t at = 0, entry = n; at < push; at += 4, ++entry) {
        if (!params[entry]) return kVkRequestRefused;
        std::memcpy(push_data + at, params[entry], push - at < 4 ? push - at : 4);
    }

    StreamRecord* s = streamRecord(stream);
    std::optional<SyncRoad> road;
    VkCommandBuffer cb = VK_NULL_HANDLE;
    if (s && s->aux_mode) {
        if (int32_t r = streamBeginAux(*s); r != 0) return r;
        cb = s->aux_cb;
    } else if (s) {
        if (int32_t r = streamBegin(*s); r != 0) return r;
        cb = s->compute_cb;
    } else {
        road.emplace();
        if (int32_t r = road->begin(); r != 0) return r;
        cb = road->cb();
    }

    VkDescriptorSet set = VK_NULL_HANDLE;
    if (n > 0) {
        VkResult r = VK_SUCCESS;
        if (s)
            r = streamSet(*s, *record, binding_offsets != nullptr, &set);
        else if (binding_offsets)
            r = allocateSharedTransientSet(record->set_layout, &set);
        else if ((r = allocateCachedSet(nullptr, record->set_layout, &record->cached_set)) == VK_SUCCESS)
            set = record->cached_set;
        if (r != VK_SUCCESS) return r;
        VkWriteDescriptorSet writes[kMaxLaunchBindings];
        for (uint32_t i = 0; i < n; ++i)
            writes[i] = {VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET, nullptr, set, i, 0, 1,
                         VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, nullptr, &buffers[i], nullptr};
        vk.vkUpdateDescriptorSets(ctx.device, n, writes, 0, nullptr);
    }

    vk.vkCmdBindPipeline(cb, VK_PIPELINE_BIND_POINT_COMPUTE, record->pipeline);
    if (n > 0)
        vk.vkCmdBindDescriptorSets(cb, VK_PIPELINE_BIND_POINT_COMPUTE, record->pipeline_layout, 0, 1, &set, 0, nullptr);
    if (push > 0)
        vk.vkCmdPushConstants(cb, record->pipeline_layout, VK_SHADER_STAGE_COMPUTE_BIT, 0, push, push_data);
    if (cbTraceOn())
        std::fprintf(stderr, "[cb-trace] dispatch grid=(%u,%u,%u) bindings=%u pc=%u cb=0x%llx\n", grid_x, grid_y, grid_z,
                     n, push, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(cb)));
    if (!split) {
        vk.vkCmdDispatch(cb, grid_x, grid_y, grid_z);
    } else {
        // Pieces within the limits; the workgroup ids stay those of the whole grid.
        for (uint32_t z = 0; z < grid_z; z += std::min(limit[2], grid_z - z))
            for (uint32_t y = 0; y < grid_y; y += std::min(limit[1], grid_y - y))
                for (uint32_t x = 0; x < grid_x; x += std::min(limit[0], grid_x - x))
                    vk.vkCmdDispatchBase(cb, x, y, z, std::min(limit[0], grid_x - x), std::min(limit[1], grid_y - y),
                                         std::min(limit[2], grid_z - z));
    }
    return road ? road->submitAndWait("kernel launch (sync mode)") : 0;
}

}  // namespace kvn
