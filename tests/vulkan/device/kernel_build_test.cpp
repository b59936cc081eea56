#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "vulkan/device/kernel_build.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;

using test::useModulesWithout;

const EmbeddedModule& probeModule() { return embeddedModules()[0]; }

TEST(KernelModules, TestProgramCarriesEveryDecodeKernel) {
    for (const KernelSpec& spec : kKernelSpecs) EXPECT_NE(findKernelModule(spec.module_name), nullptr) << spec.module_name;
    EXPECT_EQ(findKernelModule("kvnNoSuchKernel"), nullptr);
}

TEST(KernelModules, MissingOptionalModulesLeaveTheirHandlesEmpty) {
    inChildProcess([] {
        // Without the Huffman table kernel the Huffman decode kernel is not
        // even attempted, although its module is there.
        useModulesWithout({"kvnHuffBuildLutKernel", "kvnSegHashKernel"});
        setenv("KVN_VK_INIT_DEBUG", "1", 1);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(ensureVulkanContext());
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "[vk-init] buildKernel(huff_build_fn) FAILED: vkCreateShaderModule\n"
                  "[vk-init] buildKernel(seg_hash_fn) FAILED: vkCreateShaderModule\n");
        const DecodeKernelHandles& k = vulkanContext().decode_kernels;
        EXPECT_EQ(k.huff_build_fn, nullptr);
        EXPECT_EQ(k.huff_decode_fn, nullptr);
        EXPECT_EQ(k.seg_hash_fn, nullptr);
        EXPECT_NE(k.merkle_verdict_fn, nullptr);

        EXPECT_EQ(getKernelHandle(&DecodeKernelHandles::huff_decode_fn), std::nullopt);
        EXPECT_EQ(getKernelHandle(&DecodeKernelHandles::kernel_fn), k.kernel_fn);
        setenv("KVN_FALLBACK_TRACE", "1", 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(getKernelHandle(&DecodeKernelHandles::seg_hash_fn), std::nullopt);
        EXPECT_NE(getKernelHandle(&DecodeKernelHandles::chunk_combine_fn), std::nullopt);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(printed.rfind("[fallback] vk-dec handle@0x", 0), 0u) << printed;
        EXPECT_NE(printed.find(" unavailable (init ok)\n"), std::string::npos) << printed;
    });
}

TEST(KernelModules, MissingRequiredModuleFailsBringUpAndEmptiesEverything) {
    // Kernel 11 is required and comes after seven built kernels, which the
    // teardown must destroy (the validation pass reports leaked objects).
    inChildProcess([] {
        useModulesWithout({"kvnMergeHuffDescsKernel"});
        setenv("KVN_VK_INIT_DEBUG", "1", 1);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ensureVulkanContext());
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "[vk-init] buildKernel(merge_huff_descs_fn) FAILED: vkCreateShaderModule\n");
        const VulkanContext& ctx = vulkanContext();
        EXPECT_EQ(ctx.state.load(), ContextState::Failed);
        EXPECT_EQ(ctx.device, nullptr);
        for (uint32_t i = 0; i < kDecodeKernelCount; ++i) {
            EXPECT_EQ(ctx.decode_kernels.*kKernelSpecs[i].handle, nullptr) << i;
            EXPECT_EQ(ctx.decode_records[i].pipeline, nullptr) << i;
            EXPECT_EQ(ctx.decode_modules[i], nullptr) << i;
        }
        // No slot may point at the destroyed device.
        test::expectOnlyContextSlots();
        EXPECT_FALSE(ensureVulkanContext());
    });
}

constexpr char kCreateShaderModule[] = "vkCreateShaderModule";
constexpr char kCreateSetLayout[] = "vkCreateDescriptorSetLayout";
constexpr char kCreatePipelineLayout[] = "vkCreatePipelineLayout";

// Counting stand-ins for the create and destroy calls of a build, with a
// switch that makes one create call fail.
struct BuildCalls {
    static inline VulkanFunctions real;
    static inline int live_objects = 0;
    static inline std::string failing;
    // What each pipeline creation asked for, read while the call runs.
    struct PipelineRequest {
        VkPipelineShaderStageCreateFlags stage_flags;
        std::string entry;
        int32_t base_pipeline_index;
        bool chained;                   // anything chained to the create info itself
        VkSpecializationMapEntry constant;
        uint32_t constant_count;
        uint32_t constant_value;
        VkStructureType stage_chain;    // 0 when the stage has nothing chained
        uint32_t required_subgroup_size;
    };
    static inline std::vector<PipelineRequest> pipelines;

    // Stand-in for a create call of the form (device, info, allocator, out).
    template <auto Real, const char* Name, typename Info, typename Object>
    static VkResult create(VkDevice d, const Info* i, const VkAllocationCallbacks* a, Object* out) {
        if (failing == Name) return VK_ERROR_OUT_OF_HOST_MEMORY;
        const VkResult r = (real.*Real)(d, i, a, out);
        live_objects += r == VK_SUCCESS;
        return r;
    }
    template <auto Real, typename Object>
    static void destroy(VkDevice d, Object o, const VkAllocationCallbacks* a) {
        live_objects -= o != VK_NULL_HANDLE;
        (real.*Real)(d, o, a);
    }
    static VkResult createPipelines(VkDevice d, VkPipelineCache c, uint32_t n, const VkComputePipelineCreateInfo* i,
                                    const VkAllocationCallbacks* a, VkPipeline* out) {
        const VkPipelineShaderStageCreateInfo& stage = i[0].stage;
        const VkSpecializationInfo& s = *stage.pSpecializationInfo;
        const auto* subgroup = static_cast<const VkPipelineShaderStageRequiredSubgroupSizeCreateInfo*>(stage.pNext);
        pipelines.push_back({stage.flags, stage.pName, i[0].basePipelineIndex, i[0].pNext != nullptr,
                             s.pMapEntries[0], s.mapEntryCount, *static_cast<const uint32_t*>(s.pData),
                             subgroup ? subgroup->sType : VkStructureType(0),
                             subgroup ? subgroup->requiredSubgroupSize : 0});
        if (failing == "vkCreateComputePipelines") return VK_ERROR_OUT_OF_HOST_MEMORY;
        const VkResult r = real.vkCreateComputePipelines(d, c, n, i, a, out);
        live_objects += r == VK_SUCCESS;
        return r;
    }
    static void install() {
        VulkanFunctions& vk = vulkanContext().vk;
        real = vk;
        vk.vkCreateShaderModule = create<&VulkanFunctions::vkCreateShaderModule, kCreateShaderModule>;
        vk.vkCreateDescriptorSetLayout = create<&VulkanFunctions::vkCreateDescriptorSetLayout, kCreateSetLayout>;
        vk.vkCreatePipelineLayout = create<&VulkanFunctions::vkCreatePipelineLayout, kCreatePipelineLayout>;
        vk.vkCreateComputePipelines = createPipelines;
        vk.vkDestroyShaderModule = destroy<&VulkanFunctions::vkDestroyShaderModule>;
        vk.vkDestroyDescriptorSetLayout = destroy<&VulkanFunctions::vkDestroyDescriptorSetLayout>;
        vk.vkDestroyPipelineLayout = destroy<&VulkanFunctions::vkDestroyPipelineLayout>;
        vk.vkDestroyPipeline = destroy<&VulkanFunctions::vkDestroyPipeline>;
    }
};

TEST(KernelBuild, FailedBuildLeavesNothingBehind) {
    inChildProcess([] {
        useModulesWithout({"kvnBytePlaneInterleaveKernel"});
        ASSERT_TRUE(ensureVulkanContext());
        BuildCalls::install();
        constexpr uint32_t kIndex = 20;
        const EmbeddedModule& probe = probeModule();
        VulkanContext& ctx = vulkanContext();
        setenv("KVN_VK_INIT_DEBUG", "1", 1);

        for (const char* call : {"vkCreateShaderModule", "vkCreateDescriptorSetLayout", "vkCreatePipelineLayout",
                                 "vkCreateComputePipelines"}) {
            SCOPED_TRACE(call);
            BuildCalls::failing = call;
            testing::internal::CaptureStderr();
            EXPECT_FALSE(buildKernel(kIndex, probe.bytes, probe.size));
            EXPECT_EQ(testing::internal::GetCapturedStderr(),
                      std::string("[vk-init] buildKernel(byte_plane_interleave_fn) FAILED: ") + call + "\n");
            EXPECT_EQ(BuildCalls::live_objects, 0);
            EXPECT_EQ(ctx.decode_modules[kIndex], nullptr);
            EXPECT_EQ(ctx.decode_records[kIndex].set_layout, nullptr);
            EXPECT_EQ(ctx.decode_records[kIndex].pipeline_layout, nullptr);
            EXPECT_EQ(ctx.decode_records[kIndex].pipeline, nullptr);
            EXPECT_EQ(ctx.decode_kernels.byte_plane_interleave_fn, nullptr);
        }

        // A length that is not whole words never reaches Vulkan.
        BuildCalls::failing.clear();
        testing::internal::CaptureStderr();
        EXPECT_FALSE(buildKernel(kIndex, probe.bytes, probe.size - 2));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "[vk-init] buildKernel(byte_plane_interleave_fn) FAILED: vkCreateShaderModule\n");
        EXPECT_EQ(BuildCalls::live_objects, 0);

        // Bytes that are not 4-byte aligned are built from an aligned copy.
        std::vector<uint8_t> shifted(probe.size + 1);
        std::memcpy(shifted.data() + 1, probe.bytes, probe.size);
        EXPECT_TRUE(buildKernel(kIndex, shifted.data() + 1, probe.size));
        EXPECT_EQ(BuildCalls::live_objects, 4);  // module, two layouts, pipeline
        EXPECT_EQ(pipelineOf(ctx.decode_kernels.byte_plane_interleave_fn), ctx.decode_records[kIndex].pipeline);
        EXPECT_EQ(ctx.decode_records[kIndex].binding_count, 2u);
        EXPECT_EQ(ctx.decode_records[kIndex].push_bytes, 12u);
    });
}

TEST(KernelBuild, PipelinesCarryTheFloorCopySwitchAndTheSubgroupRequirement) {
    for (const bool floor_copy : {false, true}) {
        inChildProcess([&] {
            // Kernel 2 asks for 32-lane subgroups, kernel 6 does not.
            useModulesWithout({"kvnLzDecodeRawPipelinedKernel", "kvnWalkFrameTableKernel"});
            ASSERT_TRUE(ensureVulkanContext());
            BuildCalls::install();
            if (floor_copy) setenv("KVN_FLOOR_COPY", "", 1);
            const EmbeddedModule& probe = probeModule();
            ASSERT_TRUE(buildKernel(2, probe.bytes, probe.size));
            ASSERT_TRUE(buildKernel(6, probe.bytes, probe.size));
            ASSERT_EQ(BuildCalls::pipelines.size(), 2u);

            for (const BuildCalls::PipelineRequest& p : BuildCalls::pipelines) {
                EXPECT_EQ(p.constant_count, 1u);
                EXPECT_EQ(p.constant.constantID, 7u);
                EXPECT_EQ(p.constant.offset, 0u);
                EXPECT_EQ(p.constant.size, 4u);
                EXPECT_EQ(p.constant_value, floor_copy ? 1u : 0u);
                EXPECT_EQ(p.entry, "main");
                EXPECT_EQ(p.base_pipeline_index, -1);
                EXPECT_FALSE(p.chained);
            }
            const BuildCalls::PipelineRequest& warp = BuildCalls::pipelines[0];
            EXPECT_EQ(warp.stage_flags, VkPipelineShaderStageCreateFlags(VK_PIPELINE_SHADER_STAGE_CREATE_REQUIRE_FULL_SUBGROUPS_BIT));
            EXPECT_EQ(warp.stage_chain, VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_REQUIRED_SUBGROUP_SIZE_CREATE_INFO);
            EXPECT_EQ(warp.required_subgroup_size, 32u);
            const BuildCalls::PipelineRequest& plain = BuildCalls::pipelines[1];
            EXPECT_EQ(plain.stage_flags, 0u);
            EXPECT_EQ(plain.stage_chain, VkStructureType(0));
        });
    }
}

}  // namespace
}  // namespace kvn
