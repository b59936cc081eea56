// Device-only handles: a process-wide counter, so each sequence runs in a
// process of its own.
#include <gtest/gtest.h>

#include "korvane.h"
#include "vulkan/device/test_support.h"
#include "vulkan/interface/device_only_handles.h"

namespace kvn {
namespace {

constexpr uint64_t kStart = uint64_t{1} << 62;
constexpr uint64_t kWindow = uint64_t{1} << 40;

TEST(DeviceOnlyHandles, StepsAreSizesRoundedUpToPages) {
    test::inChildProcess([] {
        uint64_t value = 0;
        EXPECT_EQ(kvnMakeDeviceOnlyHandle_vk(nullptr, 1), 2u);
        ASSERT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, 1), 0u);
        EXPECT_EQ(value, kStart);
        ASSERT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, 5000), 0u);
        EXPECT_EQ(value, kStart + 4096);
        ASSERT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, 0), 0u);
        EXPECT_EQ(value, kStart + 12288);
        ASSERT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, 4096), 0u);
        EXPECT_EQ(value, kStart + 16384);
        EXPECT_TRUE(isDeviceOnlyHandle(value));
    });
}

// The window never wraps: a range that does not fit what is left is
// refused without using it up, and the values handed out stay disjoint.
TEST(DeviceOnlyHandles, TheWindowIsNeverOverrun) {
    test::inChildProcess([] {
        uint64_t value = 7;
        for (uint64_t huge : {~uint64_t{0}, ~uint64_t{0} - 4094, uint64_t{1} << 63, kWindow + 1}) {
            EXPECT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, huge), 7u) << huge;
            EXPECT_EQ(value, 7u);
        }
        ASSERT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, kWindow - 8192), 0u);
        EXPECT_EQ(value, kStart);
        EXPECT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, 8193), 7u);
        ASSERT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, 4096), 0u);
        EXPECT_EQ(value, kStart + kWindow - 8192);
        ASSERT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, 1), 0u);
        EXPECT_EQ(value, kStart + kWindow - 4096);
        EXPECT_TRUE(isDeviceOnlyHandle(value));
        EXPECT_EQ(kvnMakeDeviceOnlyHandle_vk(&value, 1), 7u) << "exhausted";
        EXPECT_EQ(value, kStart + kWindow - 4096);
    });
}

TEST(DeviceOnlyHandles, RecognisedByTheirTopBits) {
    EXPECT_TRUE(isDeviceOnlyHandle(kStart));
    EXPECT_TRUE(isDeviceOnlyHandle(kStart + kWindow - 1));
    EXPECT_FALSE(isDeviceOnlyHandle(kStart + kWindow));
    EXPECT_FALSE(isDeviceOnlyHandle(kStart - 1));
    EXPECT_FALSE(isDeviceOnlyHandle(0));
}

}  // namespace
}  // namespace kvn
