#include "vulkan/device/encode_pipelines.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "vulkan/device/kernel_table.h"
#include "vulkan/device/spirv_patch.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

// Room for every encode kernel, and a few more for test modules.
constexpr uint32_t kEncodeRecordCapacity = 32;
constexpr uint32_t kSubgroupSize = 32;

ExclusiveLock g_encode_lock;
std::atomic<bool> g_encode_built{false};
EncodeKernelHandles g_encode_kernels{};
KernelRecord g_encode_records[kEncodeRecordCapacity];
std::atomic<uint32_t> g_encode_record_count{0};

// Objects made for one build, destroyed unless the build succeeds.
struct BuildObjects {
    VkShaderModule module = VK_NULL_HANDLE;
    VkDescriptorSetLayout set_layout = VK_NULL_HANDLE;
    VkPipelineLayout pipeline_layout = VK_NULL_HANDLE;
    VkPipeline pipeline = VK_NULL_HANDLE;

    ~BuildObjects() {
        const VulkanContext& ctx = vulkanContext();
        const VulkanFunctions& vk = ctx.vk;
        if (pipeline && vk.vkDestroyPipeline) vk.vkDestroyPipeline(ctx.device, pipeline, nullptr);
        if (pipeline_layout && vk.vkDestroyPipelineLayout)
            vk.vkDestroyPipelineLayout(ctx.device, pipeline_layout, nullptr);
        if (set_layout && vk.vkDestroyDescriptorSetLayout)
            vk.vkDestroyDescriptorSetLayout(ctx.device, set_layout, nullptr);
        if (module && vk.vkDestroyShaderModule) vk.vkDestroyShaderModule(ctx.device, module, nullptr);
    }
};

bool createModule(const uint8_t* spirv, size_t length, VkShaderModule* out, bool* reads_grid_size) {
    if (!spirv || length == 0 || length % 4 != 0) return false;
    std::vector<uint32_t> words;
    try {
        words.resize(length / 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(words.data(), spirv, length);
    std::vector<uint32_t> patched = patchInt8Capability(words);
    const std::vector<uint32_t>& code = patched.empty() ? words : patched;
    *reads_grid_size = readsWorkgroupCount(code);
    const VulkanContext& ctx = vulkanContext();
    const VkShaderModuleCreateInfo info{VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO, nullptr, 0,
                                        code.size() * sizeof(uint32_t), code.data()};
    return ctx.vk.vkCreateShaderModule(ctx.device, &info, nullptr, out) == VK_SUCCESS && *out;
}

bool buildOne(const EncodeKernelSpec& spec) {
    const EmbeddedModule* module = findKernelModule(spec.module_name);
    return module && buildEncodePipeline(module->bytes, module->size, spec, &(g_encode_kernels.*spec.handle));
}

}  // namespace

const EncodeKernelHandles& encodeKernels() { return g_encode_kernels; }

std::span<KernelRecord> encodeRecords() {
    return {g_encode_records, g_encode_record_count.load(std::memory_order_acquire)};
}

bool buildEncodePipeline(const uint8_t* spirv, size_t length, const EncodeKernelSpec& spec, KernelHandle* out) {
    const VulkanContext& ctx = vulkanContext();
    const VulkanFunctions& vk = ctx.vk;
    const uint32_t count = g_encode_record_count.load(std::memory_order_relaxed);
    if (count == kEncodeRecordCapacity || spec.binding_count > 16) return false;

    BuildObjects made;
    bool reads_grid_size = true;
    if (!createModule(spirv, length, &made.module, &reads_grid_size)) return false;

    VkDescriptorSetLayoutBinding bindings[16];
    for (uint32_t b = 0; b < spec.binding_count; ++b)
        bindings[b] = {b, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr};
    const VkDescriptorSetLayoutCreateInfo set_info{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO, nullptr, 0,
                                                   spec.binding_count, bindings};
    if (vk.vkCreateDescriptorSetLayout(ctx.device, &set_info, nullptr, &made.set_layout) != VK_SUCCESS ||
        !made.set_layout)
        return false;

    const VkPushConstantRange push_range{VK_SHADER_STAGE_COMPUTE_BIT, 0, spec.push_bytes};
    VkPipelineLayoutCreateInfo layout_info{VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO};
    layout_info.setLayoutCount = 1;
    layout_info.pSetLayouts = &made.set_layout;
    layout_info.pushConstantRangeCount = spec.push_bytes > 0 ? 1 : 0;
    layout_info.pPushConstantRanges = &push_range;
    if (vk.vkCreatePipelineLayout(ctx.device, &layout_info, nullptr, &made.pipeline_layout) != VK_SUCCESS ||
        !made.pipeline_layout)
        return false;

    const uint32_t constants[2] = {spec.lz_mode, spec.hash16};
    const VkSpecializationMapEntry entries[2] = {{0, 0, 4}, {1, 4, 4}};
    const VkSpecializationInfo specialization{2, entries, sizeof constants, constants};
    VkPipelineShaderStageRequiredSubgroupSizeCreateInfo subgroup{
        VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_REQUIRED_SUBGROUP_SIZE_CREATE_INFO, nullptr, kSubgroupSize};
    VkComputePipelineCreateInfo pipeline_info{VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO};
    pipeline_info.stage = {VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO, &subgroup,
                           VK_PIPELINE_SHADER_STAGE_CREATE_REQUIRE_FULL_SUBGROUPS_BIT, VK_SHADER_STAGE_COMPUTE_BIT,
                           made.module, "main", spec.specialized ? &specialization : nullptr};
    // Grids above the device's workgroup counts are dispatched in pieces.
    pipeline_info.flags = VK_PIPELINE_CREATE_DISPATCH_BASE_BIT;
    pipeline_info.layout = made.pipeline_layout;
    pipeline_info.basePipelineIndex = -1;
    if (vk.vkCreateComputePipelines(ctx.device, ctx.pipeline_cache, 1, &pipeline_info, nullptr, &made.pipeline) !=
            VK_SUCCESS ||
        !made.pipeline)
        return false;

    g_encode_records[count] = KernelRecord{made.set_layout, made.pipeline_layout, made.pipeline, VK_NULL_HANDLE,
                                           spec.binding_count, spec.push_bytes, reads_grid_size};
    g_encode_record_count.store(count + 1, std::memory_order_release);
    *out = kernelHandleOf(made.pipeline);
    // The record owns the layouts and the pipeline now; the module is no longer needed.
    made.set_layout = VK_NULL_HANDLE;
    made.pipeline_layout = VK_NULL_HANDLE;
    made.pipeline = VK_NULL_HANDLE;
    return true;
}

bool ensureEncodePipelines() {
    if (g_encode_built.load(std::memory_order_acquire)) return g_encode_kernels.lz_greedy_fn != VK_NULL_HANDLE;
    LockGuard guard(g_encode_lock);
    if (g_encode_built.load(std::memory_order_relaxed)) return g_encode_kernels.lz_greedy_fn != VK_NULL_HANDLE;
    if (!ensureVulkanContext()) return false;
    g_enc_mem_free = memFreeIfLoaded;
    g_enc_launch_kernel = launchKernelIfLoaded;

    bool head_failed = false;
    for (const EncodeKernelSpec& spec : kEncodeKernelSpecs) {
        const bool head = spec.group == EncodeGroup::Required || spec.group == EncodeGroup::HuffmanHead ||
                          spec.group == EncodeGroup::AssemblyHead || spec.group == EncodeGroup::WrtHead ||
                          spec.group == EncodeGroup::Alone;
        if (head) head_failed = false;
        // Kernels built by an earlier, failed call are kept, not built twice.
        if (g_encode_kernels.*spec.handle) continue;
        if (head_failed) continue;
        if (buildOne(spec)) continue;
        if (spec.group == EncodeGroup::Required) return false;
        if (head && spec.group != EncodeGroup::Alone) head_failed = true;
    }
    g_encode_built.store(true, std::memory_order_release);
    return true;
}

}  // namespace kvn
