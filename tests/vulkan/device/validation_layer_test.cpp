#include <gtest/gtest.h>

#include <csignal>

#include "test_support.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;

// The validation pass is only worth something if the layer is really loaded
// and an error really ends the process; both are checked here, in that pass.
TEST(ValidationPass, LayerIsLoadedAndAnErrorKillsTheProcess) {
    if (!test::underValidationLayer()) GTEST_SKIP() << "runs in the validation pass only";
    inChildProcess([] {
        ASSERT_TRUE(ensureVulkanContext());
        EXPECT_TRUE(test::libraryLoaded("libVkLayer_khronos_validation"));
    });
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (ensureVulkanContext()) {
                const VulkanContext& ctx = vulkanContext();
                // A create info of the wrong type: caught by the layer before the driver sees it.
                VkFenceCreateInfo wrong{VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO};
                VkFence fence = VK_NULL_HANDLE;
                ctx.vk.vkCreateFence(ctx.device, &wrong, nullptr, &fence);
            }
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTRAP), "");
}

}  // namespace
}  // namespace kvn
