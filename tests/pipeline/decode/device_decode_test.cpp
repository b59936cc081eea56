// Device-resident input decoded into device memory (kvnDecompress_vk on
// registered buffers, kvnDecompressAsync) on lavapipe: the device-road
// suite both libraries run, with the Vulkan family's registered buffers.
#include <gtest/gtest.h>

#include "decode_test_support.h"
#include "pipeline/device/backend_hooks.h"
#include "tests/support/device_decode_suite.h"

namespace kvn::test {
namespace {

using namespace device_suite;

void* createVulkanHandle() {
    void* handle = nullptr;
    EXPECT_EQ(kvnCreate_vk(&handle), KVN_STATUS_SUCCESS);
    return handle;
}

// kvnDecompress_vk from and to registered device buffers.
int64_t decodeRegistered(void* handle, uint64_t in, const Bytes& src, uint64_t out, uint64_t cap,
                         const DecompressOpts& opts) {
    EXPECT_EQ(kvnRegisterBuffer_vk(handle, 0, in, 1), KVN_STATUS_SUCCESS);
    EXPECT_EQ(kvnRegisterBuffer_vk(handle, 0, out, 1), KVN_STATUS_SUCCESS);
    const int32_t result = kvnDecompress_vk(handle, in, src.size(), out, cap, &opts);
    kvnUnregisterBuffer_vk(handle, in);
    kvnUnregisterBuffer_vk(handle, out);
    return result;
}

constexpr RoadLibrary kVulkan{createVulkanHandle, kvnDestroy_vk, decodeRegistered};

// The body on a Vulkan road, in a child process with the device up.
template <typename Body>
void onVulkanRoad(Body body) {
    inChildProcess([&] {
        readyOps();
        DeviceRoad road(kVulkan);
        body(road);
    });
}

TEST(DeviceDecode, EqualsTheInputAndTheHostRoad) { onVulkanRoad(expectInputAndHostRoad); }

TEST(DeviceDecode, ManyFramesAreAllDecoded) { onVulkanRoad(expectManyFramesDecoded); }

// 600 chunks: a region of one batch's decoded-stream scratch would exceed
// lavapipe's 128 MiB binding range, each frame's does not.
const GoodCase kBeyondOneBinding[] = {
    {"more_chunks_than_one_batch_binds", [] { return textOf(2 * 300 * 4096); },
     std::vector<FrameSpec>(2, FrameSpec{.level = 3, .sc = 1.0f / 64})},
};

TEST(DeviceDecode, EachInputTakesTheRoadThatDecodesItFaithfully) {
    onVulkanRoad([](DeviceRoad& road) { expectFaithfulRoads(road, deviceBindingAlignment(), kBeyondOneBinding); });
}

TEST(DeviceDecode, WholeInputWalkJudgesEveryFrame) { onVulkanRoad(expectWholeInputJudgesEveryFrame); }

TEST(DeviceDecode, LeapWalkEqualsSerialWalk) { onVulkanRoad(expectLeapWalkEqualsSerialWalk); }

TEST(DeviceDecode, LeapWalkFailsAsTheSerialWalk) { onVulkanRoad(expectLeapWalkFailsAsTheSerialWalk); }

TEST(DeviceDecode, BytePlaneFramesComeBackElementMajor) { onVulkanRoad(expectBytePlanesElementMajor); }

TEST(DeviceDecode, DamageOnlyATrailerCanTellFails) { onVulkanRoad(expectDamageOnlyATrailerTellsFails); }

TEST(DeviceDecode, DamagedInputFailsWithinTheCapacity) { onVulkanRoad(expectDamageFailsWithinTheCapacity); }

TEST(DeviceDecode, AsyncCallOnTheCallersStream) {
    onVulkanRoad([](DeviceRoad& road) { expectAsyncCallOnTheCallersStream(road, 0); });
}

TEST(DeviceDecode, DamagedFramesOfEveryShapeFailWithinTheCapacity) {
    onVulkanRoad(expectDamagedFramesOfEveryShapeFail);
}

}  // namespace
}  // namespace kvn::test
