// The device-memory calls through a stand-in device-operations table, and
// their bounds check against the buffer registry.
#include <gtest/gtest.h>

#include <vector>

#include "family_test_support.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn::test {
namespace {

struct Calls {
    std::vector<uint64_t> allocated, freed;
    uint64_t copied_bytes = 0;
    Error result = Error::None;
};
Calls g_calls;

Error fakeAlloc(uint64_t* out, uint64_t bytes) {
    g_calls.allocated.push_back(bytes);
    if (g_calls.result == Error::None) *out = 3;
    return g_calls.result;
}
Error fakeFree(uint64_t buffer) {
    g_calls.freed.push_back(buffer);
    return g_calls.result;
}
Error fakeHtoD(uint64_t, const void*, uint64_t bytes) {
    g_calls.copied_bytes = bytes;
    return g_calls.result;
}
Error fakeDtoH(void*, uint64_t, uint64_t bytes) {
    g_calls.copied_bytes = bytes;
    return g_calls.result;
}

class DeviceMemoryTest : public FamilyTest {
protected:
    void SetUp() override {
        FamilyTest::SetUp();
        g_calls = Calls{};
        saved_ops_ = gpuOps();
        // Buffer 1 holds 100 bytes, buffer 2 is freed, buffer 3 holds 4096.
        VulkanContext& ctx = vulkanContext();
        ctx.buffers = {{.size = 100, .live = 1}, {.size = 100, .live = 0}, {.size = 4096, .live = 1}};
    }
    void TearDown() override {
        vulkanContext().buffers.clear();
        gpuOps() = saved_ops_;
        FamilyTest::TearDown();
    }
    void installOps() {
        gpuOps().memAlloc = fakeAlloc;
        gpuOps().memFree = fakeFree;
        gpuOps().memcpyHtoD = fakeHtoD;
        gpuOps().memcpyDtoH = fakeDtoH;
    }

private:
    GpuOpsTable saved_ops_{};
};

TEST_F(DeviceMemoryTest, WithoutOperationsEveryCallIsADeviceFailure) {
    void* h = makeInterfaceHandle();
    uint8_t bytes[8] = {};
    uint64_t out = 5;
    EXPECT_EQ(kvnVkDeviceAlloc(h, 8, &out), 6u);
    EXPECT_EQ(out, 5u);
    EXPECT_EQ(kvnVkDeviceFree(h, 1), 6u);
    EXPECT_EQ(kvnVkDeviceFree(h, 0), 0u) << "nothing to free";
    EXPECT_EQ(kvnVkH2D(h, 1, bytes, 8), 6u);
    EXPECT_EQ(kvnVkD2H(h, bytes, 1, 8), 6u);
}

TEST_F(DeviceMemoryTest, CallsCheckInOrderAndMapFailures) {
    installOps();
    void* h = makeInterfaceHandle();  // any shape; the handle is only checked
    uint8_t bytes[8] = {};
    uint64_t out = 5;
    EXPECT_EQ(kvnVkDeviceAlloc(nullptr, 8, nullptr), 1u);
    EXPECT_EQ(kvnVkDeviceAlloc(h, 8, nullptr), 2u);
    EXPECT_EQ(kvnVkDeviceFree(nullptr, 1), 1u);
    EXPECT_EQ(kvnVkH2D(nullptr, 1, nullptr, 8), 1u);
    EXPECT_EQ(kvnVkH2D(h, 1, nullptr, 8), 2u);
    EXPECT_EQ(kvnVkD2H(nullptr, nullptr, 1, 8), 1u);
    EXPECT_EQ(kvnVkD2H(h, nullptr, 1, 8), 2u);
    EXPECT_TRUE(g_calls.allocated.empty());

    ASSERT_EQ(kvnVkDeviceAlloc(h, 40, &out), 0u);
    EXPECT_EQ(out, 3u);
    EXPECT_EQ(kvnVkH2D(h, 1, bytes, 8), 0u);
    EXPECT_EQ(kvnVkD2H(makeFamilyHandle(), bytes, 1, 8), 0u);
    EXPECT_EQ(kvnVkDeviceFree(h, 3), 0u);

    g_calls.result = Error::DeviceCallFailed;
    EXPECT_EQ(kvnVkDeviceAlloc(h, 40, &out), 6u);
    EXPECT_EQ(out, 0u) << "cleared before the allocation";
    EXPECT_EQ(kvnVkDeviceFree(h, 3), 6u);
    EXPECT_EQ(kvnVkH2D(h, 1, bytes, 8), 6u);
    EXPECT_EQ(kvnVkD2H(h, bytes, 1, 8), 6u);
}

// A copy longer than its buffer would write or read past it.
TEST_F(DeviceMemoryTest, CopiesMustFitTheirBuffer) {
    installOps();
    void* h = makeInterfaceHandle();
    std::vector<uint8_t> bytes(5000);
    EXPECT_EQ(kvnVkH2D(h, 1, bytes.data(), 100), 0u);
    EXPECT_EQ(kvnVkH2D(h, 1, bytes.data(), 101), 2u);
    EXPECT_EQ(kvnVkD2H(h, bytes.data(), 1, 101), 2u);
    EXPECT_EQ(kvnVkD2H(h, bytes.data(), 3, 4096), 0u);
    EXPECT_EQ(kvnVkD2H(h, bytes.data(), 3, 4097), 2u);
    EXPECT_EQ(g_calls.copied_bytes, 4096u);
    // Handles the registry does not hold are the operation's to refuse.
    g_calls.result = Error::DeviceCallFailed;
    EXPECT_EQ(kvnVkH2D(h, 2, bytes.data(), 5000), 6u);
    EXPECT_EQ(kvnVkH2D(h, 9, bytes.data(), 5000), 6u);
    EXPECT_EQ(kvnVkH2D(h, 0, bytes.data(), 5000), 6u);
}

}  // namespace
}  // namespace kvn::test
