#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"
#include "vulkan/device/init_report.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::libraryLoaded;

TEST(BringUp, SucceedsOnLavapipeWith32LaneSubgroups) {
    inChildProcess([] {
        setenv("KVN_VK_INIT_DEBUG", "1", 1);
        testing::internal::CaptureStderr();
        const bool ready = ensureVulkanContext();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // no failure line, no probe report
        ASSERT_TRUE(ready);
        EXPECT_TRUE(ensureVulkanContext());

        const VulkanContext& ctx = vulkanContext();
        EXPECT_EQ(ctx.state.load(), ContextState::Ready);
        EXPECT_NE(ctx.device, nullptr);
        EXPECT_EQ(std::string(ctx.device_name).rfind("llvmpipe", 0), 0u) << ctx.device_name;
        EXPECT_EQ(ctx.device_name_length, std::string(ctx.device_name).size());
        EXPECT_EQ(ctx.device_type, VK_PHYSICAL_DEVICE_TYPE_CPU);
        EXPECT_TRUE(ctx.api_1_3);
        // Lavapipe: one family, one memory type, host import without a memory budget.
        EXPECT_EQ(ctx.compute_family, 0u);
        EXPECT_EQ(ctx.transfer_family, 0u);
        EXPECT_FALSE(ctx.separate_transfer_family);
        EXPECT_EQ(ctx.compute_queue, ctx.transfer_queue);
        EXPECT_EQ(ctx.memory_properties.memoryTypeCount, 1u);
        EXPECT_EQ(ctx.max_storage_buffer_range, uint64_t{128} << 20);
        EXPECT_TRUE(ctx.host_import_usable);
        EXPECT_EQ(ctx.import_alignment, 4096u);
        EXPECT_FALSE(ctx.memory_budget);
        EXPECT_TRUE(ctx.storage_16bit);

        EXPECT_NE(ctx.compute_pool, nullptr);
        EXPECT_NE(ctx.transfer_pool, nullptr);
        EXPECT_NE(ctx.one_shot_cb, nullptr);
        EXPECT_NE(ctx.one_shot_fence, nullptr);
        EXPECT_NE(ctx.allocator, nullptr);
        EXPECT_EQ(ctx.upload_staging.capacity, uint64_t{1} << 20);
        EXPECT_NE(ctx.upload_staging.mapped, nullptr);
        EXPECT_EQ(ctx.readback_staging.buffer, nullptr);  // made on first use
        EXPECT_NE(ctx.persistent_pool, nullptr);
        EXPECT_NE(ctx.transient_pool, nullptr);
        EXPECT_NE(ctx.pipeline_cache, nullptr);

        ASSERT_NE(ctx.query_pool, nullptr);
        ASSERT_EQ(ctx.free_queries.size(), 2048u);
        EXPECT_EQ(ctx.free_queries.back(), 2047u);  // the first event takes query 2047
        EXPECT_GE(ctx.free_queries.capacity(), 4096u);
        EXPECT_FALSE(ctx.decode_profiling);
        EXPECT_EQ(gpuOps().timestamp_period, 1.0f);

        EXPECT_GE(ctx.buffers.capacity(), 4096u);
        EXPECT_GE(ctx.host_allocations.capacity(), 256u);
        EXPECT_GE(ctx.streams.capacity(), 256u);
        // The probe stream holds handle 1 for the life of the process.
        ASSERT_EQ(ctx.streams.size(), 1u);
        EXPECT_TRUE(ctx.streams[0].live);
        EXPECT_TRUE(ctx.streams[0].hasAuxSet());
        EXPECT_TRUE(ctx.probe_stream_made);

        for (const KernelSpec& spec : kKernelSpecs) EXPECT_NE(ctx.decode_kernels.*spec.handle, nullptr) << spec.handle_name;
        EXPECT_NE(gpuOps().streamCreate, nullptr);
    });
}

TEST(BringUp, RefusesDevicesWithout32LaneSubgroups) {
    // Lavapipe's subgroup width follows its vector width in bits: 256 gives
    // 8 lanes, 8 gives none.
    const struct {
        const char* vector_width;
        uint32_t lanes;
        bool init_debug;
    } cases[] = {{"256", 8, false}, {"256", 8, true}, {"8", 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vector_width);
        inChildProcess([&] {
            setenv("LP_NATIVE_VECTOR_WIDTH", c.vector_width, 1);
            if (c.init_debug) setenv("KVN_VK_INIT_DEBUG", "1", 1);
            testing::internal::CaptureStderr();
            EXPECT_FALSE(ensureVulkanContext());
            const std::string printed = testing::internal::GetCapturedStderr();
            const VulkanContext& ctx = vulkanContext();
            // The refusal alone: printed without any switch, and no failure line follows.
            EXPECT_EQ(printed, unsupportedSubgroupSizeText(ctx.device_name, c.lanes, c.lanes));
            EXPECT_EQ(printed.rfind("[VK_INIT] unsupported device 'llvmpipe", 0), 0u) << printed;
            EXPECT_NE(printed.find("': subgroupSize range [" + std::to_string(c.lanes) + ", " +
                                   std::to_string(c.lanes) + "] \u2014 this codec requires subgroupSize 32.\n"),
                      std::string::npos);
            EXPECT_EQ(ctx.state.load(), ContextState::Failed);
            EXPECT_EQ(ctx.instance, nullptr);  // torn down
            test::expectOnlyContextSlots();
        });
    }
}

TEST(BringUp, KvnNoVkFailsWithoutLoadingTheLoader) {
    for (const char* value : {"1", ""}) {
        inChildProcess([&] {
            setenv("KVN_NO_VK", value, 1);
            setenv("KVN_VK_INIT_DEBUG", "", 1);
            testing::internal::CaptureStderr();
            EXPECT_FALSE(ensureVulkanContext());
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "[vk-init] FAILED: disabled via KVN_NO_VK\n");
            EXPECT_EQ(vulkanContext().loader, nullptr);
            EXPECT_FALSE(libraryLoaded("libvulkan"));
            test::expectOnlyContextSlots();
        });
    }
}

TEST(BringUp, FailureIsPermanentAndLaterCallsAreSilent) {
    inChildProcess([] {
        setenv("KVN_NO_VK", "1", 1);
        setenv("KVN_VK_INIT_DEBUG", "1", 1);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ensureVulkanContext());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "[vk-init] FAILED: disabled via KVN_NO_VK\n");

        // Nothing is retried, even though the reason is gone.
        unsetenv("KVN_NO_VK");
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ensureVulkanContext());
        EXPECT_FALSE(ensureVulkanContext());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_FALSE(libraryLoaded("libvulkan"));
        EXPECT_EQ(vulkanContext().state.load(), ContextState::Failed);

        EXPECT_EQ(getKernelHandle(&DecodeKernelHandles::kernel_fn), std::nullopt);
        setenv("KVN_FALLBACK_TRACE", "1", 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(getKernelHandle(&DecodeKernelHandles::kernel_fn), std::nullopt);
        char expected[128];
        std::snprintf(expected, sizeof expected, "[fallback] vk-dec handle@0x%llx unavailable (init FAILED)\n",
                      static_cast<unsigned long long>(
                          reinterpret_cast<uintptr_t>(&vulkanContext().decode_kernels.kernel_fn)));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    });
}

TEST(BringUp, MissingDriverFailsAtInstanceCreation) {
    inChildProcess([] {
        setenv("VK_DRIVER_FILES", "/nonexistent/korvane_icd.json", 1);
        setenv("VK_ICD_FILENAMES", "/nonexistent/korvane_icd.json", 1);
        setenv("KVN_VK_INIT_DEBUG", "1", 1);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ensureVulkanContext());
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_NE(printed.find("[vk-init] FAILED: vkCreateInstance\n"), std::string::npos) << printed;
        EXPECT_EQ(printed.find("[vk-init] FAILED: vkCreateInstance\n"), printed.rfind("[vk-init]")) << printed;
        EXPECT_NE(vulkanContext().loader, nullptr);  // the loader itself was there
        EXPECT_EQ(vulkanContext().instance, nullptr);
        test::expectOnlyContextSlots();
    });
}

TEST(BringUp, DeviceIndexChoices) {
    // Lavapipe is the only device: index 0 is it, anything beyond fails with
    // no fallback, and a value that is not a 32-bit number is ignored.
    const struct {
        const char* value;
        bool ready;
    } cases[] = {{"0", true},  {"+0", true},         {"-0", true},         {"1", false},
                 {"16", false}, {"4294967295", false}, {"4294967296", true}, {"", true},
                 {"gpu", true}, {"0x0", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        inChildProcess([&] {
            setenv("KVN_VK_DEVICE_INDEX", c.value, 1);
            setenv("KVN_VK_INIT_DEBUG", "1", 1);
            testing::internal::CaptureStderr();
            EXPECT_EQ(ensureVulkanContext(), c.ready);
            EXPECT_EQ(testing::internal::GetCapturedStderr(),
                      c.ready ? "" : "[vk-init] FAILED: device selection (pickPhysicalDeviceFromList)\n");
        });
    }
}

TEST(BringUp, ProfileSwitches) {
    inChildProcess([] {
        setenv("KVN_VK_PROFILE_PHASES", "", 1);
        setenv("KVN_VK_PROFILE_DECODE", "", 1);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(ensureVulkanContext());
        // Lavapipe's one family does graphics, compute and transfer (0x7) and more.
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(printed.rfind("[VK_INIT] transfer queue: qf=0 flags=0x", 0), 0u) << printed;
        EXPECT_NE(printed.find(" dedicated=false\n"), std::string::npos) << printed;
        EXPECT_TRUE(vulkanContext().decode_profiling);
    });
}

TEST(BringUp, ConcurrentCallersShareOneBringUp) {
    inChildProcess([] {
        constexpr int kThreads = 8;
        struct Call {
            Thread thread;
            bool ready = false;
        } calls[kThreads];
        for (Call& call : calls)
            ASSERT_EQ(startThread(&call.thread, [](void* arg) { static_cast<Call*>(arg)->ready = ensureVulkanContext(); },
                                  &call, kStack16MiB),
                      Error::None);
        for (Call& call : calls) joinThread(&call.thread);
        for (const Call& call : calls) EXPECT_TRUE(call.ready);
        EXPECT_EQ(vulkanContext().streams.size(), 1u);  // one probe stream: one bring-up
    });
}

}  // namespace
}  // namespace kvn
