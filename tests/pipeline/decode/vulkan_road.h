// The Vulkan library's device-input road as the device-road tests drive it:
// kvnDecompress_vk from and to registered device buffers, in a child process
// with the device up.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "korvane.h"
#include "tests/support/child_process.h"
#include "tests/support/device_road.h"
#include "vulkan/device/test_support.h"

namespace kvn::test {

inline void* createVulkanHandle() {
    void* handle = nullptr;
    EXPECT_EQ(kvnCreate_vk(&handle), KVN_STATUS_SUCCESS);
    return handle;
}

inline int64_t decodeRegistered(void* handle, uint64_t in, const std::vector<uint8_t>& src, uint64_t out,
                                uint64_t cap, const DecompressOpts& opts) {
    EXPECT_EQ(kvnRegisterBuffer_vk(handle, 0, in, 1), KVN_STATUS_SUCCESS);
    EXPECT_EQ(kvnRegisterBuffer_vk(handle, 0, out, 1), KVN_STATUS_SUCCESS);
    const int32_t result = kvnDecompress_vk(handle, in, src.size(), out, cap, &opts);
    kvnUnregisterBuffer_vk(handle, in);
    kvnUnregisterBuffer_vk(handle, out);
    return result;
}

inline constexpr RoadLibrary kVulkanRoad{createVulkanHandle, kvnDestroy_vk, decodeRegistered};

template <typename Body>
void onVulkanRoad(Body body) {
    inChildProcess([&] {
        readyOps();
        DeviceRoad road(kVulkanRoad);
        body(road);
    });
}

}  // namespace kvn::test
