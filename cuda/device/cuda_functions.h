// The driver entry points this library calls, bound by name from the loaded
// driver library. A name the driver does not export leaves its pointer null;
// each use site checks the pointer it needs.
#pragma once

#include "cuda/device/cuda_api.h"

namespace kvn {

// The decode set, bound by bring-up.
struct CudaFunctions {
    CuInitFn cuInit;
    CuDeviceGetFn cuDeviceGet;
    CuDeviceGetAttributeFn cuDeviceGetAttribute;
    CuDeviceGetNameFn cuDeviceGetName;
    CuCtxCreateFn cuCtxCreate;
    CuModuleLoadDataFn cuModuleLoadData;
    CuModuleLoadDataExFn cuModuleLoadDataEx;
    CuModuleGetFunctionFn cuModuleGetFunction;
    CuModuleGetGlobalFn cuModuleGetGlobal;
    CuMemAllocFn cuMemAlloc;
    CuMemFreeFn cuMemFree;
    CuMemcpyHtoDFn cuMemcpyHtoD;
    CuMemcpyDtoHFn cuMemcpyDtoH;
    CuLaunchKernelFn cuLaunchKernel;
    CuLaunchCooperativeKernelFn cuLaunchCooperativeKernel;
    CuOccupancyFn cuOccupancyMaxActiveBlocksPerMultiprocessor;
    CuFuncSetAttributeFn cuFuncSetAttribute;
    CuCtxSynchronizeFn cuCtxSynchronize;
    CuMemsetD8Fn cuMemsetD8;
    CuStreamCreateFn cuStreamCreate;
    CuStreamFn cuStreamDestroy;
    CuStreamFn cuStreamSynchronize;
    CuMemcpyHtoDAsyncFn cuMemcpyHtoDAsync;
    CuMemcpyDtoHAsyncFn cuMemcpyDtoHAsync;
    CuMemcpyDtoDAsyncFn cuMemcpyDtoDAsync;
    CuMemsetD8AsyncFn cuMemsetD8Async;
    CuMemAllocHostFn cuMemAllocHost;
    CuMemFreeHostFn cuMemFreeHost;
    CuCtxGetCurrentFn cuCtxGetCurrent;
    CuCtxSetCurrentFn cuCtxSetCurrent;
    CuMemGetInfoFn cuMemGetInfo;
    CuCtxSetLimitFn cuCtxSetLimit;
    CuStreamSetAttributeFn cuStreamSetAttribute;
    CuEventCreateFn cuEventCreate;
    CuEventRecordFn cuEventRecord;
    CuStreamWaitEventFn cuStreamWaitEvent;
    CuEventFn cuEventSynchronize;
    CuEventElapsedTimeFn cuEventElapsedTime;
    CuEventFn cuEventDestroy;
};

// The encode set, bound from the driver's second load by the encode bring-up.
struct CudaEncodeFunctions {
    CuModuleLoadDataFn cuModuleLoadData;
    CuModuleGetFunctionFn cuModuleGetFunction;
    CuMemAllocFn cuMemAlloc;
    CuMemFreeFn cuMemFree;
    CuMemcpyHtoDFn cuMemcpyHtoD;
    CuMemcpyDtoHFn cuMemcpyDtoH;
    CuModuleGetGlobalFn cuModuleGetGlobal;
    CuMemcpyDtoDAsyncFn cuMemcpyDtoDAsync;
    CuLaunchKernelFn cuLaunchKernel;
    CuCtxSynchronizeFn cuCtxSynchronize;
    CuMemsetD8Fn cuMemsetD8;
    CuMemGetInfoFn cuMemGetInfo;
    CuMemAllocHostFn cuMemAllocHost;
    CuMemFreeHostFn cuMemFreeHost;
    CuMemcpyDtoHAsyncFn cuMemcpyDtoHAsync;
    CuStreamFn cuStreamSynchronize;
};

// The driver library's name on this system.
inline constexpr const char* kCudaDriverLibrary = "libcuda.so.1";

// Binds every entry point of the set from `library`, in order; a name the
// driver lacks is tried under its plain name where the set names one.
void bindCudaFunctions(void* library, CudaFunctions* out);
void bindCudaEncodeFunctions(void* library, CudaEncodeFunctions* out);

}  // namespace kvn
