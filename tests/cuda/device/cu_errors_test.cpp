// The driver's result codes reach the pipelines as named errors.
#include <gtest/gtest.h>

#include "cuda/device/cu_errors.h"

namespace kvn {
namespace {

TEST(CuErrors, EachResultHasItsName) {
    const struct {
        CuResult code;
        Error error;
    } cases[] = {
        {kCuSuccess, Error::None},
        {kCuOutOfMemory, Error::OutOfDeviceMemory},
        {kCuInvalidValue, Error::BadRequest},
        {kCuInvalidHandle, Error::BadRequest},
        {kCuNotFound, Error::BadRequest},
        {kCuIllegalAddress, Error::DeviceLost},
        {kCuLaunchTimeout, Error::DeviceLost},
        {kCuDeinitialized, Error::DeviceLost},
        {kCuLaunchFailed, Error::KernelLaunchFailed},
        {kCuLaunchOutOfResources, Error::KernelLaunchFailed},
        {kCuCooperativeLaunchTooLarge, Error::KernelLaunchFailed},
        {kCuNotInitialized, Error::DeviceCallFailed},
        {kCuInvalidContext, Error::DeviceCallFailed},
        {kCuInvalidPtx, Error::DeviceCallFailed},
        {999, Error::DeviceCallFailed},
    };
    for (const auto& c : cases) EXPECT_EQ(errorFromCuResult(c.code), c.error) << "CUresult " << c.code;
}

}  // namespace
}  // namespace kvn
