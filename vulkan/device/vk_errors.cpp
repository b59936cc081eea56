#include "vulkan/device/vk_errors.h"

#include "vulkan/device/vulkan_api.h"

namespace kvn {

Error errorFromVkResult(int32_t code) {
    switch (code) {
        case VK_SUCCESS: return Error::None;
        case kVkRequestRefused: return Error::BadRequest;
        case VK_ERROR_OUT_OF_HOST_MEMORY: return Error::OutOfMemory;
        case VK_ERROR_OUT_OF_DEVICE_MEMORY: return Error::OutOfDeviceMemory;
        case VK_ERROR_DEVICE_LOST:
        case VK_TIMEOUT: return Error::DeviceLost;
        default: return Error::DeviceCallFailed;
    }
}

}  // namespace kvn
