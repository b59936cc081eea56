#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/spirv_patch.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::readyOps;

constexpr uint32_t op(uint32_t count, uint32_t code) { return count << 16 | code; }
constexpr uint32_t kCapability = 17;
const std::vector<uint32_t> kHeader = {kSpirvMagic, 0x00010500, 0, 20, 0};

std::vector<uint32_t> module(std::initializer_list<uint32_t> body) {
    std::vector<uint32_t> words = kHeader;
    words.insert(words.end(), body);
    return words;
}

TEST(SpirvPatch, Int8IsDeclaredAfterTheLastCapabilityWhenEightBitStorageLacksIt) {
    // OpCapability Shader, StorageBuffer8BitAccess; OpExtension (3 words); OpMemoryModel.
    const std::vector<uint32_t> plain =
        module({op(2, kCapability), 1, op(2, kCapability), 4448, op(3, 10), 0x5F565053, 0, op(3, 14), 0, 1});
    const std::vector<uint32_t> patched = patchInt8Capability(plain);
    const std::vector<uint32_t> expected = module({op(2, kCapability), 1, op(2, kCapability), 4448, op(2, kCapability),
                                                   39, op(3, 10), 0x5F565053, 0, op(3, 14), 0, 1});
    EXPECT_EQ(patched, expected);

    for (uint32_t storage : {4449u, 4450u})
        EXPECT_EQ(patchInt8Capability(module({op(2, kCapability), storage, op(3, 14), 0, 1})).size(), 5u + 5 + 2)
            << storage;
}

TEST(SpirvPatch, ModulesThatNeedNothingOrCannotBeWalkedStayAsTheyAre) {
    const struct {
        const char* name;
        std::vector<uint32_t> words;
    } cases[] = {
        {"declares Int8", module({op(2, kCapability), 4448, op(2, kCapability), 39})},
        {"no 8-bit storage", module({op(2, kCapability), 1, op(3, 14), 0, 1})},
        {"no magic", {0x12345678, 0, 0, 0, 0, op(2, kCapability), 4448}},
        {"header only", kHeader},
        {"zero word count", module({op(2, kCapability), 4448, op(0, 14), 0})},
        // The last instruction claims more words than the module has: the walk
        // stops at the end instead of reading past it.
        {"runs past the end", module({op(2, kCapability), 4448, op(9, 14), 0})},
        {"capability runs past the end", module({op(3, kCapability), 4448})},
    };
    for (const auto& c : cases) EXPECT_TRUE(patchInt8Capability(c.words).empty()) << c.name;
}

// Records the code of every shader module and can fail the n-th pipeline creation.
struct EncodeBuildCalls {
    static inline VulkanFunctions real;
    static inline std::vector<std::vector<uint32_t>> modules;
    static inline int pipelines = 0;
    static inline int fail_pipeline = -1;
    static VkResult createModule(VkDevice d, const VkShaderModuleCreateInfo* info, const VkAllocationCallbacks* a,
                                 VkShaderModule* out) {
        modules.emplace_back(info->pCode, info->pCode + info->codeSize / 4);
        return real.vkCreateShaderModule(d, info, a, out);
    }
    static VkResult createPipelines(VkDevice d, VkPipelineCache c, uint32_t n, const VkComputePipelineCreateInfo* i,
                                    const VkAllocationCallbacks* a, VkPipeline* out) {
        if (pipelines++ == fail_pipeline) return VK_ERROR_OUT_OF_HOST_MEMORY;
        return real.vkCreateComputePipelines(d, c, n, i, a, out);
    }
    static void install() {
        VulkanFunctions& vk = vulkanContext().vk;
        real = vk;
        vk.vkCreateShaderModule = createModule;
        vk.vkCreateComputePipelines = createPipelines;
    }
};

bool declaresInt8(const std::vector<uint32_t>& words) {
    for (size_t i = 5; i + 1 < words.size(); i += words[i] >> 16)
        if (words[i] == op(2, kCapability) && words[i + 1] == 39) return true;
    return false;
}

TEST(EncodePipelines, BuildsEveryKernelWithTheLzSpecialisationsAndTheInt8Patch) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        EncodeBuildCalls::install();
        EXPECT_EQ(g_enc_launch_kernel, nullptr);
        ASSERT_TRUE(ensureEncodePipelines());
        EXPECT_EQ(g_enc_launch_kernel, launchKernelIfLoaded);
        EXPECT_EQ(g_enc_mem_free, memFreeIfLoaded);
        const std::span<KernelRecord> records = encodeRecords();
        ASSERT_EQ(records.size(), kEncodeKernelCount);
        std::set<VkPipeline> distinct;
        for (size_t i = 0; i < kEncodeKernelCount; ++i) {
            const EncodeKernelSpec& spec = kEncodeKernelSpecs[i];
            EXPECT_EQ(pipelineOf(encodeKernels().*spec.handle), records[i].pipeline) << spec.kernel_name;
            EXPECT_EQ(records[i].binding_count, spec.binding_count) << spec.kernel_name;
            EXPECT_EQ(records[i].push_bytes, spec.push_bytes) << spec.kernel_name;
            distinct.insert(records[i].pipeline);
        }
        EXPECT_EQ(distinct.size(), kEncodeKernelCount);

        // Eleven stand-ins read through 8-bit storage without Int8: each was
        // given Int8; the LZ and word modules went in unchanged.
        ASSERT_EQ(EncodeBuildCalls::modules.size(), kEncodeKernelCount);
        for (size_t i = 0; i < kEncodeKernelCount; ++i) {
            const EncodeKernelSpec& spec = kEncodeKernelSpecs[i];
            const EmbeddedModule* embedded = findKernelModule(spec.module_name);
            const bool eight_bit = i >= 7 && i <= 17;
            EXPECT_EQ(EncodeBuildCalls::modules[i].size() * 4, embedded->size + (eight_bit ? 8 : 0)) << spec.kernel_name;
            EXPECT_EQ(declaresInt8(EncodeBuildCalls::modules[i]), eight_bit) << spec.kernel_name;
        }

        // The four LZ-encode kernels: one module, four specialisations.
        uint64_t out = 0;
        ASSERT_EQ(ops.memAlloc(&out, 5 * 4), Error::None);
        uint64_t none = out;
        uint32_t push[18] = {};
        void* params[5 + 18];
        void* buffers[5] = {&out, &none, &none, &none, &none};
        for (int i = 0; i < 5; ++i) params[i] = buffers[i];
        for (int i = 0; i < 18; ++i) params[5 + i] = &push[i];
        const struct {
            KernelHandle kernel;
            uint32_t mode, hash16;
        } lz[] = {{encodeKernels().lz_greedy_fn, 0, 0},
                  {encodeKernels().lz_greedy16_fn, 0, 1},
                  {encodeKernels().lz_chain_fn, 1, 0},
                  {encodeKernels().lz_sort_parse_fn, 2, 0}};
        for (const auto& k : lz) {
            push[0] = 4242 + k.mode;
            ASSERT_EQ(g_enc_launch_kernel(k.kernel, 1, 1, 1, 32, 1, 1, 0, 0, params, nullptr, nullptr), Error::None);
            uint32_t words[3] = {};
            ASSERT_EQ(ops.memcpyDtoH(words, out, 12), Error::None);
            EXPECT_EQ(words[0], k.mode);
            EXPECT_EQ(words[1], k.hash16);
            EXPECT_EQ(words[2], 4242 + k.mode);
        }
        EXPECT_EQ(g_enc_mem_free(out), Error::None);
        EXPECT_TRUE(ensureEncodePipelines());
        EXPECT_EQ(encodeRecords().size(), kEncodeKernelCount);
    });
}

TEST(EncodePipelines, FailedRequiredBuildIsRetriedWithoutBuildingAnythingTwice) {
    inChildProcess([] {
        readyOps();
        EncodeBuildCalls::install();
        EncodeBuildCalls::fail_pipeline = 3;  // kvnLzEncodeSortParseKernel, required
        EXPECT_FALSE(ensureEncodePipelines());
        EXPECT_EQ(encodeRecords().size(), 3u);
        EXPECT_NE(encodeKernels().lz_chain_fn, nullptr);
        EXPECT_EQ(encodeKernels().lz_sort_parse_fn, nullptr);
        EXPECT_EQ(encodeKernels().huff_build_tables_fn, nullptr);

        EncodeBuildCalls::pipelines = 0;
        EncodeBuildCalls::fail_pipeline = -1;
        ASSERT_TRUE(ensureEncodePipelines());
        EXPECT_EQ(EncodeBuildCalls::pipelines, static_cast<int>(kEncodeKernelCount) - 3);
        ASSERT_EQ(encodeRecords().size(), kEncodeKernelCount);
        std::set<VkPipeline> distinct;
        for (const KernelRecord& record : encodeRecords()) distinct.insert(record.pipeline);
        EXPECT_EQ(distinct.size(), kEncodeKernelCount);
        for (const EncodeKernelSpec& spec : kEncodeKernelSpecs)
            EXPECT_TRUE(distinct.count(pipelineOf(encodeKernels().*spec.handle))) << spec.kernel_name;
    });
}

TEST(EncodePipelines, OptionalGroupsFallWithTheirHead) {
    inChildProcess([] {
        static std::vector<EmbeddedModule> modules;
        for (const EmbeddedModule& m : embeddedModules())
            if (std::string(m.name) != "kvnHuffBuildTablesKernel" && std::string(m.name) != "kvnWrtAssignKernel" &&
                std::string(m.name) != "kvnLzSortRadixKernel")
                modules.push_back(m);
        useKernelModules(modules);
        readyOps();
        ASSERT_TRUE(ensureEncodePipelines());
        const EncodeKernelHandles& k = encodeKernels();
        EXPECT_EQ(k.huff_build_tables_fn, nullptr);
        EXPECT_EQ(k.huff_encode_fn, nullptr);  // its module is there, but its head failed
        EXPECT_EQ(k.huff_scan_fn, nullptr);
        EXPECT_NE(k.assemble_measure_fn, nullptr);
        // A group member failing alone takes nothing with it.
        EXPECT_EQ(k.wrt_assign_fn, nullptr);
        EXPECT_NE(k.wrt_encode_fn, nullptr);
        // The sort kernels serve level 5 alone: one missing leaves the rest.
        EXPECT_EQ(k.sort_radix_fn, nullptr);
        EXPECT_NE(k.sort_discover_fn, nullptr);
        EXPECT_NE(k.byte_plane_deinterleave_fn, nullptr);
        EXPECT_EQ(encodeRecords().size(), kEncodeKernelCount - 5);
        // Built once: later calls answer at once.
        EXPECT_TRUE(ensureEncodePipelines());
        EXPECT_EQ(encodeRecords().size(), kEncodeKernelCount - 5);

        // The lookup the encoder goes through traces a miss, and only a miss.
        setenv("KVN_FALLBACK_TRACE", "1", 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(getEncodePipeline(&EncodeKernelHandles::huff_encode_fn), std::nullopt);
        EXPECT_EQ(getEncodePipeline(&EncodeKernelHandles::assemble_measure_fn), k.assemble_measure_fn);
        const std::string printed = testing::internal::GetCapturedStderr();
        char expected[96];
        std::snprintf(expected, sizeof expected, "[fallback] vk-enc handle@0x%llx unavailable (init ok)\n",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&k.huff_encode_fn)));
        EXPECT_EQ(printed, expected);
    });
}

TEST(EncodePipelines, WrappersFailWhileTheTableIsEmpty) {
    // This process never brings the device up.
    EXPECT_EQ(launchKernelIfLoaded(nullptr, 1, 1, 1, 1, 1, 1, 0, 0, nullptr, nullptr, nullptr),
              Error::BackendNotAvailable);
    EXPECT_EQ(memFreeIfLoaded(1), Error::BackendNotAvailable);
}

}  // namespace
}  // namespace kvn
