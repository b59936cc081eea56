// Device-resident input decoded into device memory by the CUDA library's
// kvnDecompressAsync, on the stand-in driver: the device-road suite both
// libraries run, with device pointers from the library's own operations.
#include <gtest/gtest.h>

#include "pipeline/device/backend_hooks.h"
#include "tests/support/child_process.h"
#include "tests/support/device_decode_suite.h"

namespace kvn::test {
namespace {

using namespace device_suite;

void* createHandle() {
    void* handle = nullptr;
    EXPECT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
    return handle;
}

void destroyHandle(void* handle) { kvnDestroy(handle); }

// kvnDecompressAsync returns no size: on success it is the frames' total.
int64_t decodeAsync(void* handle, uint64_t in, const Bytes& src, uint64_t out, uint64_t cap,
                    const DecompressOpts& opts) {
    const KvnStatus status = kvnDecompressAsync(handle, in, uint32_t(src.size()), out, uint32_t(cap), &opts, 0);
    if (status != KVN_STATUS_SUCCESS) return -int64_t{status};
    uint64_t total = 0;
    EXPECT_EQ(kvnGetTotalDecompressedSize(handle, src.data(), src.size(), &total), KVN_STATUS_SUCCESS);
    return int64_t(total);
}

constexpr RoadLibrary kCuda{createHandle, destroyHandle, decodeAsync};

template <typename Body>
void onCudaRoad(Body body) {
    inChildProcess([&] {
        DeviceRoad road(kCuda);
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
