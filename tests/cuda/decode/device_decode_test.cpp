// Device-resident input decoded into device memory by the CUDA library's
// kvnDecompressAsync, on the stand-in driver: the device-road suite both
// libraries run, with device pointers from the library's own operations.
#include <gtest/gtest.h>

#include "pipeline/device/backend_hooks.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_road.h"
#include "tests/support/child_process.h"
#include "tests/support/device_decode_suite.h"

namespace kvn::test {
namespace {

using namespace device_suite;

template <typename Body>
void onCudaRoad(Body body) {
    inChildProcess([&] {
        DeviceRoad road(kCudaRoad);
        body(road);
    });
}

TEST(CudaDeviceDecode, EqualsTheInputAndTheHostRoad) { onCudaRoad(expectInputAndHostRoad); }

TEST(CudaDeviceDecode, ManyFramesAreAllDecoded) { onCudaRoad(expectManyFramesDecoded); }

TEST(CudaDeviceDecode, EachInputTakesTheRoadThatDecodesItFaithfully) {
    onCudaRoad([](DeviceRoad& road) { expectFaithfulRoads(road, deviceBindingAlignment()); });
}

TEST(CudaDeviceDecode, WholeInputWalkJudgesEveryFrame) { onCudaRoad(expectWholeInputJudgesEveryFrame); }

TEST(CudaDeviceDecode, LeapWalkEqualsSerialWalk) { onCudaRoad(expectLeapWalkEqualsSerialWalk); }

TEST(CudaDeviceDecode, LeapWalkFailsAsTheSerialWalk) { onCudaRoad(expectLeapWalkFailsAsTheSerialWalk); }

TEST(CudaDeviceDecode, BytePlaneFramesComeBackElementMajor) { onCudaRoad(expectBytePlanesElementMajor); }

TEST(CudaDeviceDecode, DamageOnlyATrailerCanTellFails) { onCudaRoad(expectDamageOnlyATrailerTellsFails); }

TEST(CudaDeviceDecode, DamagedInputFailsWithinTheCapacity) { onCudaRoad(expectDamageFailsWithinTheCapacity); }

// A non-blocking stream of the caller's: the library's own work is ordered
// with it.
TEST(CudaDeviceDecode, AsyncCallOnTheCallersStream) {
    onCudaRoad([](DeviceRoad& road) { expectAsyncCallOnTheCallersStream(road, 1); });
}

TEST(CudaDeviceDecode, DamagedFramesOfEveryShapeFailWithinTheCapacity) {
    onCudaRoad(expectDamagedFramesOfEveryShapeFail);
}

TEST(CudaDeviceDecode, WindowedAndWholeBatchesGiveTheReferenceBytes) {
    onCudaRoad(expectWindowedAndWholeBatchesGiveTheReferenceBytes);
}

// A frame whose output starts off a word boundary of the destination is not
// hashed there: the hash kernel reads words, which a GPU reads only at
// aligned addresses (the stand-in's host build would read them anywhere).
TEST(CudaDeviceDecode, WordReadingKernelsGetAlignedAddresses) {
    onCudaRoad([](DeviceRoad& road) {
        const Bytes content = textOf(2 * 5001);
        const Bytes src = framesOf(content, std::vector<FrameSpec>(2, FrameSpec{.level = 3, .merkle = true}));
        const DeviceDecoded d = road.decode(src, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        const StandInLaunch hash = lastLaunch("kvnSegHashKernel");
        ASSERT_GE(hash.count, 2u);
        EXPECT_EQ(hash.arguments[0] % 4, 0u) << "the second frame's bytes are hashed at an aligned address";
    });
}

}  // namespace
}  // namespace kvn::test
