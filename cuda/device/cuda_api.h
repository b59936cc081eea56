// The part of the CUDA driver API this library binds, in our own types: the
// driver is loaded at run time, so no toolkit header is needed to build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/device/device_ops.h"

namespace kvn {

using CuResult = int32_t;
using CuDevice = int32_t;
using CuDevicePtr = uint64_t;
struct CuContextObject;
struct CuModuleObject;
struct CuStreamObject;
struct CuEventObject;
using CuContext = CuContextObject*;
using CuModule = CuModuleObject*;
using CuStream = CuStreamObject*;
using CuEvent = CuEventObject*;
// A module function is the launch table's kernel handle.
using CuFunction = KernelHandle;

// The driver's result codes this library names.
inline constexpr CuResult kCuSuccess = 0;
inline constexpr CuResult kCuInvalidValue = 1;
inline constexpr CuResult kCuOutOfMemory = 2;
inline constexpr CuResult kCuNotInitialized = 3;
inline constexpr CuResult kCuDeinitialized = 4;
inline constexpr CuResult kCuNoDevice = 100;
inline constexpr CuResult kCuInvalidDevice = 101;
inline constexpr CuResult kCuInvalidContext = 201;
inline constexpr CuResult kCuInvalidPtx = 218;
inline constexpr CuResult kCuInvalidHandle = 400;
inline constexpr CuResult kCuNotFound = 500;
inline constexpr CuResult kCuNotReady = 600;
inline constexpr CuResult kCuIllegalAddress = 700;
inline constexpr CuResult kCuLaunchOutOfResources = 701;
inline constexpr CuResult kCuLaunchTimeout = 702;
inline constexpr CuResult kCuLaunchFailed = 719;
inline constexpr CuResult kCuCooperativeLaunchTooLarge = 720;

inline constexpr int kCuAttributeMultiprocessorCount = 16;
inline constexpr int kCuAttributeL2CacheSize = 38;
inline constexpr unsigned kCuStreamNonBlocking = 1;
inline constexpr unsigned kCuEventDisableTiming = 2;
inline constexpr int kCuJitGenerateLineInfo = 13;
inline constexpr int kCuLimitPersistingL2CacheSize = 0x06;
inline constexpr int kCuStreamAttributeAccessPolicyWindow = 1;
inline constexpr int kCuAccessPropertyNormal = 0;
inline constexpr int kCuAccessPropertyPersisting = 2;

// The driver's CUaccessPolicyWindow, inside its 64-byte stream attribute value.
struct CuAccessPolicyWindow {
    uint64_t base_ptr;
    size_t num_bytes;
    float hit_ratio;
    int hit_prop;
    int miss_prop;
};
union CuStreamAttributeValue {
    CuAccessPolicyWindow access_policy_window;
    uint8_t bytes[64];
};

extern "C" {
using CuInitFn = CuResult (*)(unsigned flags);
using CuDeviceGetFn = CuResult (*)(CuDevice* device, int ordinal);
using CuDeviceGetAttributeFn = CuResult (*)(int* value, int attribute, CuDevice device);
using CuDeviceGetNameFn = CuResult (*)(char* name, int length, CuDevice device);
using CuCtxCreateFn = CuResult (*)(CuContext* context, unsigned flags, CuDevice device);
using CuModuleLoadDataFn = CuResult (*)(CuModule* module, const void* image);
using CuModuleLoadDataExFn = CuResult (*)(CuModule* module, const void* image, unsigned count, int* options,
                                          void** values);
using CuModuleGetFunctionFn = CuResult (*)(CuFunction* function, CuModule module, const char* name);
using CuModuleGetGlobalFn = CuResult (*)(CuDevicePtr* address, size_t* bytes, CuModule module, const char* name);
using CuMemAllocFn = CuResult (*)(CuDevicePtr* address, size_t bytes);
using CuMemFreeFn = CuResult (*)(CuDevicePtr address);
using CuMemcpyHtoDFn = CuResult (*)(CuDevicePtr dst, const void* src, size_t bytes);
using CuMemcpyDtoHFn = CuResult (*)(void* dst, CuDevicePtr src, size_t bytes);
using CuLaunchKernelFn = CuResult (*)(CuFunction function, unsigned grid_x, unsigned grid_y, unsigned grid_z,
                                      unsigned block_x, unsigned block_y, unsigned block_z, unsigned shared_bytes,
                                      CuStream stream, void** params, void** extra);
using CuLaunchCooperativeKernelFn = CuResult (*)(CuFunction function, unsigned grid_x, unsigned grid_y,
                                                 unsigned grid_z, unsigned block_x, unsigned block_y,
                                                 unsigned block_z, unsigned shared_bytes, CuStream stream,
                                                 void** params);
using CuOccupancyFn = CuResult (*)(int* blocks, CuFunction function, int block_size, size_t dynamic_shared);
using CuFuncSetAttributeFn = CuResult (*)(CuFunction function, int attribute, int value);
using CuCtxSynchronizeFn = CuResult (*)();
using CuMemsetD8Fn = CuResult (*)(CuDevicePtr dst, unsigned char value, size_t count);
using CuStreamCreateFn = CuResult (*)(CuStream* stream, unsigned flags);
using CuStreamFn = CuResult (*)(CuStream stream);
using CuMemcpyHtoDAsyncFn = CuResult (*)(CuDevicePtr dst, const void* src, size_t bytes, CuStream stream);
using CuMemcpyDtoHAsyncFn = CuResult (*)(void* dst, CuDevicePtr src, size_t bytes, CuStream stream);
using CuMemcpyDtoDAsyncFn = CuResult (*)(CuDevicePtr dst, CuDevicePtr src, size_t bytes, CuStream stream);
using CuMemsetD8AsyncFn = CuResult (*)(CuDevicePtr dst, unsigned char value, size_t count, CuStream stream);
using CuMemAllocHostFn = CuResult (*)(void** pointer, size_t bytes);
using CuMemFreeHostFn = CuResult (*)(void* pointer);
using CuCtxGetCurrentFn = CuResult (*)(CuContext* context);
using CuCtxSetCurrentFn = CuResult (*)(CuContext context);
using CuMemGetInfoFn = CuResult (*)(size_t* free_bytes, size_t* total_bytes);
using CuCtxSetLimitFn = CuResult (*)(int limit, size_t value);
using CuStreamSetAttributeFn = CuResult (*)(CuStream stream, int attribute, const void* value);
using CuEventCreateFn = CuResult (*)(CuEvent* event, unsigned flags);
using CuEventRecordFn = CuResult (*)(CuEvent event, CuStream stream);
using CuStreamWaitEventFn = CuResult (*)(CuStream stream, CuEvent event, unsigned flags);
using CuEventFn = CuResult (*)(CuEvent event);
using CuEventElapsedTimeFn = CuResult (*)(float* ms, CuEvent start, CuEvent end);
}

}  // namespace kvn
