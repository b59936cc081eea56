// Device-resident input decoded into device memory by the CUDA library's
// kvnDecompressAsync, on the stand-in driver: the device-road suite both
// libraries run, with device pointers from the library's own operations.
#include <gtest/gtest.h>

#include "pipeline/device/backend_hooks.h"
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

TEST(CudaDeviceDecode, WrtFramesAskForTheHostRoad) { onCudaRoad(expectWrtFramesAskForTheHostRoad); }

}  // namespace
}  // namespace kvn::test
