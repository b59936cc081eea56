#include "cuda/device/cu_errors.h"

namespace kvn {

Error errorFromCuResult(CuResult code) {
    switch (code) {
        case kCuSuccess: return Error::None;
        case kCuOutOfMemory: return Error::OutOfDeviceMemory;
        case kCuInvalidValue:
        case kCuInvalidHandle:
        case kCuNotFound: return Error::BadRequest;
        case kCuIllegalAddress:
        case kCuLaunchTimeout:
        case kCuDeinitialized: return Error::DeviceLost;
        case kCuLaunchOutOfResources:
        case kCuLaunchFailed:
        case kCuCooperativeLaunchTooLarge: return Error::KernelLaunchFailed;
        default: return Error::DeviceCallFailed;
    }
}

}  // namespace kvn
