#include <gtest/gtest.h>

#include "test_support.h"
#include "vulkan/device/memory_probe.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;

TEST(MemoryProbe, ReportLines) {
    VkPhysicalDeviceMemoryProperties memory{};
    memory.memoryHeapCount = 3;
    memory.memoryHeaps[0] = {(uint64_t{3} << 30) + 5, 0};
    memory.memoryHeaps[1] = {uint64_t{8} << 20, VK_MEMORY_HEAP_DEVICE_LOCAL_BIT};
    memory.memoryHeaps[2] = {(uint64_t{1} << 20) - 1, VK_MEMORY_HEAP_DEVICE_LOCAL_BIT | VK_MEMORY_HEAP_MULTI_INSTANCE_BIT};
    memory.memoryTypeCount = 2;
    memory.memoryTypes[0] = {VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT, 1};
    memory.memoryTypes[1] = {0x10f, 0};
    EXPECT_EQ(formatVkMemoryProbe(memory, 134217728),
              "VK memory probe:\n"
              "  heap[0]: size=3072 MB flags=0x0 ()\n"
              "  heap[1]: size=8 MB flags=0x1 (DEVICE_LOCAL )\n"
              "  heap[2]: size=0 MB flags=0x3 (DEVICE_LOCAL MULTI_INSTANCE )\n"
              "  type[0]: heap=1 flags=0x1\n"
              "  type[1]: heap=0 flags=0x10f\n"
              "  maxStorageBufferRange = 134217728 (128 MB)\n");
}

TEST(MemoryProbe, PrintedAtTheEndOfBringUpOnlyWhenAsked) {
    for (const bool asked : {false, true}) {
        inChildProcess([&] {
            if (asked) setenv("KVN_VK_MEM_PROBE", "", 1);
            testing::internal::CaptureStderr();
            ASSERT_TRUE(ensureVulkanContext());
            const VulkanContext& ctx = vulkanContext();
            EXPECT_EQ(testing::internal::GetCapturedStderr(),
                      asked ? formatVkMemoryProbe(ctx.memory_properties, ctx.max_storage_buffer_range) : "");
        });
    }
}

}  // namespace
}  // namespace kvn
