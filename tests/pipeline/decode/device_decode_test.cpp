// Device-resident input decoded into device memory (kvnDecompress_vk on
// registered buffers, kvnDecompressAsync) on lavapipe: the device-road
// suite both libraries run, with the Vulkan family's registered buffers.
#include <gtest/gtest.h>

#include "pipeline/device/backend_hooks.h"
#include "tests/pipeline/decode/vulkan_road.h"
#include "tests/support/device_decode_suite.h"

namespace kvn::test {
namespace {

using namespace device_suite;

TEST(DeviceDecode, EqualsTheInputAndTheHostRoad) { onVulkanRoad(expectInputAndHostRoad); }

TEST(DeviceDecode, ManyFramesAreAllDecoded) { onVulkanRoad(expectManyFramesDecoded); }

TEST(DeviceDecode, EachInputTakesTheRoadThatDecodesItFaithfully) {
    onVulkanRoad([](DeviceRoad& road) { expectFaithfulRoads(road, deviceBindingAlignment()); });
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
