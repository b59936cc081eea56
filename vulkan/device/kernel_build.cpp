#include "vulkan/device/kernel_build.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "core/platform/platform.h"
#include "vulkan/device/spirv_patch.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

// The LZ decode modules read specialization constant 7 (the floor-copy
// switch); every decode pipeline carries the entry, which other modules ignore.
constexpr uint32_t kFloorCopyConstant = 7;
constexpr uint32_t kSubgroupSize = 32;

void destroyKernel(VulkanContext& ctx, uint32_t index) {
    const VulkanFunctions& vk = ctx.vk;
    KernelRecord& record = ctx.decode_records[index];
    if (record.pipeline && vk.vkDestroyPipeline) vk.vkDestroyPipeline(ctx.device, record.pipeline, nullptr);
    if (record.pipeline_layout && vk.vkDestroyPipelineLayout)
        vk.vkDestroyPipelineLayout(ctx.device, record.pipeline_layout, nullptr);
    if (record.set_layout && vk.vkDestroyDescriptorSetLayout)
        vk.vkDestroyDescriptorSetLayout(ctx.device, record.set_layout, nullptr);
    if (ctx.decode_modules[index] && vk.vkDestroyShaderModule)
        vk.vkDestroyShaderModule(ctx.device, ctx.decode_modules[index], nullptr);
    record.pipeline = VK_NULL_HANDLE;
    record.pipeline_layout = VK_NULL_HANDLE;
    record.set_layout = VK_NULL_HANDLE;
    ctx.decode_modules[index] = VK_NULL_HANDLE;
    ctx.decode_kernels.*kKernelSpecs[index].handle = VK_NULL_HANDLE;
}

bool failBuild(VulkanContext& ctx, uint32_t index, const char* call) {
    reportBuildKernelFailure(index, call);
    destroyKernel(ctx, index);
    return false;
}

}  // namespace

void reportBuildKernelFailure(uint32_t index, const char* call) {
    if (envPresent("KVN_VK_INIT_DEBUG"))
        std::fprintf(stderr, "[vk-init] buildKernel(%s) FAILED: %s\n", kKernelSpecs[index].handle_name, call);
}

bool buildKernel(uint32_t index, const uint8_t* spirv, size_t length) {
    VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    const KernelSpec& spec = kKernelSpecs[index];
    KernelRecord& record = ctx.decode_records[index];
    record.binding_count = spec.binding_count;
    record.push_bytes = spec.push_bytes;

    // A missing module arrives as zero bytes.
    if (length == 0 || length % 4 != 0) return failBuild(ctx, index, "vkCreateShaderModule");
    {
        // Vulkan reads the code as 32-bit words.
        std::vector<uint32_t> aligned;
        const uint32_t* code = reinterpret_cast<const uint32_t*>(spirv);
        if (reinterpret_cast<uintptr_t>(spirv) % 4 != 0) {
            try {
                aligned.resize(length / 4);
            } catch (const std::bad_alloc&) {
                return failBuild(ctx, index, "vkCreateShaderModule");
            }
            std::memcpy(aligned.data(), spirv, length);
            code = aligned.data();
        }
        record.reads_grid_size = readsWorkgroupCount({code, length / 4});
        VkShaderModuleCreateInfo info{VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO, nullptr, 0, length, code};
        if (vk.vkCreateShaderModule(ctx.device, &info, nullptr, &ctx.decode_modules[index]) != VK_SUCCESS) {
            ctx.decode_modules[index] = VK_NULL_HANDLE;
            return failBuild(ctx, index, "vkCreateShaderModule");
        }
        if (!ctx.decode_modules[index]) return failBuild(ctx, index, "vkCreateShaderModule");
    }

    VkDescriptorSetLayoutBinding bindings[16];
    for (uint32_t b = 0; b < spec.binding_count; ++b)
        bindings[b] = {b, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr};
    VkDescriptorSetLayoutCreateInfo set_info{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO, nullptr, 0,
                                             spec.binding_count, bindings};
    if (vk.vkCreateDescriptorSetLayout(ctx.device, &set_info, nullptr, &record.set_layout) != VK_SUCCESS) {
        record.set_layout = VK_NULL_HANDLE;
        return failBuild(ctx, index, "vkCreateDescriptorSetLayout");
    }

    const VkPushConstantRange push_range{VK_SHADER_STAGE_COMPUTE_BIT, 0, spec.push_bytes};
    VkPipelineLayoutCreateInfo layout_info{VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO};
    layout_info.setLayoutCount = 1;
    layout_info.pSetLayouts = &record.set_layout;
    layout_info.pushConstantRangeCount = spec.push_bytes > 0 ? 1 : 0;
    layout_info.pPushConstantRanges = spec.push_bytes > 0 ? &push_range : nullptr;
    if (vk.vkCreatePipelineLayout(ctx.device, &layout_info, nullptr, &record.pipeline_layout) != VK_SUCCESS) {
        record.pipeline_layout = VK_NULL_HANDLE;
        return failBuild(ctx, index, "vkCreatePipelineLayout");
    }

    const uint32_t floor_copy = envPresent("KVN_FLOOR_COPY") ? 1 : 0;
    const VkSpecializationMapEntry constant{kFloorCopyConstant, 0, sizeof floor_copy};
    const VkSpecializationInfo specialization{1, &constant, sizeof floor_copy, &floor_copy};
    VkPipelineShaderStageRequiredSubgroupSizeCreateInfo subgroup{
        VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_REQUIRED_SUBGROUP_SIZE_CREATE_INFO, nullptr, kSubgroupSize};
    VkComputePipelineCreateInfo pipeline_info{VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO};
    pipeline_info.stage = {VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO};
    pipeline_info.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    pipeline_info.stage.module = ctx.decode_modules[index];
    pipeline_info.stage.pName = "main";
    pipeline_info.stage.pSpecializationInfo = &specialization;
    if (spec.subgroup_32) {
        pipeline_info.stage.pNext = &subgroup;
        pipeline_info.stage.flags = VK_PIPELINE_SHADER_STAGE_CREATE_REQUIRE_FULL_SUBGROUPS_BIT;
    }
    // Grids above the device's workgroup counts are dispatched in pieces.
    pipeline_info.flags = VK_PIPELINE_CREATE_DISPATCH_BASE_BIT;
    pipeline_info.layout = record.pipeline_layout;
    pipeline_info.basePipelineIndex = -1;
    if (vk.vkCreateComputePipelines(ctx.device, ctx.pipeline_cache, 1, &pipeline_info, nullptr, &record.pipeline) !=
            VK_SUCCESS ||
        !record.pipeline) {
        record.pipeline = VK_NULL_HANDLE;
        return failBuild(ctx, index, "vkCreateComputePipelines");
    }
    ctx.decode_kernels.*spec.handle = kernelHandleOf(record.pipeline);
    return true;
}

bool buildDecodeKernels(VulkanContext& ctx) {
    for (uint32_t index = 0; index < kDecodeKernelCount; ++index) {
        if (index == kHuffDecodeKernel && !(ctx.decode_kernels.*kKernelSpecs[kHuffBuildKernel].handle)) continue;
        const EmbeddedModule* module = findKernelModule(kKernelSpecs[index].module_name);
        const bool built = module ? buildKernel(index, module->bytes, module->size) : buildKernel(index, nullptr, 0);
        if (!built && kKernelSpecs[index].required) return false;
    }
    return true;
}

void destroyDecodeKernels(VulkanContext& ctx) {
    for (uint32_t index = 0; index < kDecodeKernelCount; ++index) destroyKernel(ctx, index);
}

}  // namespace kvn
