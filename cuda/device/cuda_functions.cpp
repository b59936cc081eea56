#include "cuda/device/cuda_functions.h"

#include <cstddef>
#include <cstring>

#include "core/platform/platform.h"

namespace kvn {
namespace {

// One entry point: its name, the plain name tried when the driver lacks it
// (or null), and where its pointer goes in the set.
struct Binding {
    const char* name;
    const char* fallback;
    size_t offset;
};

#define KVN_BIND(set, field, name, fallback) Binding{name, fallback, offsetof(set, field)}

constexpr Binding kDecodeBindings[] = {
    KVN_BIND(CudaFunctions, cuInit, "cuInit", nullptr),
    KVN_BIND(CudaFunctions, cuDeviceGet, "cuDeviceGet", nullptr),
    KVN_BIND(CudaFunctions, cuDeviceGetAttribute, "cuDeviceGetAttribute", nullptr),
    KVN_BIND(CudaFunctions, cuDeviceGetName, "cuDeviceGetName", nullptr),
    KVN_BIND(CudaFunctions, cuCtxCreate, "cuCtxCreate_v2", "cuCtxCreate"),
    KVN_BIND(CudaFunctions, cuModuleLoadData, "cuModuleLoadData", nullptr),
    KVN_BIND(CudaFunctions, cuModuleLoadDataEx, "cuModuleLoadDataEx", nullptr),
    KVN_BIND(CudaFunctions, cuModuleGetFunction, "cuModuleGetFunction", nullptr),
    KVN_BIND(CudaFunctions, cuModuleGetGlobal, "cuModuleGetGlobal_v2", nullptr),
    KVN_BIND(CudaFunctions, cuMemAlloc, "cuMemAlloc_v2", nullptr),
    KVN_BIND(CudaFunctions, cuMemFree, "cuMemFree_v2", nullptr),
    KVN_BIND(CudaFunctions, cuMemcpyHtoD, "cuMemcpyHtoD_v2", nullptr),
    KVN_BIND(CudaFunctions, cuMemcpyDtoH, "cuMemcpyDtoH_v2", nullptr),
    KVN_BIND(CudaFunctions, cuLaunchKernel, "cuLaunchKernel", nullptr),
    KVN_BIND(CudaFunctions, cuLaunchCooperativeKernel, "cuLaunchCooperativeKernel", nullptr),
    KVN_BIND(CudaFunctions, cuOccupancyMaxActiveBlocksPerMultiprocessor,
             "cuOccupancyMaxActiveBlocksPerMultiprocessor", nullptr),
    KVN_BIND(CudaFunctions, cuFuncSetAttribute, "cuFuncSetAttribute", nullptr),
    KVN_BIND(CudaFunctions, cuCtxSynchronize, "cuCtxSynchronize", nullptr),
    KVN_BIND(CudaFunctions, cuMemsetD8, "cuMemsetD8_v2", nullptr),
    KVN_BIND(CudaFunctions, cuStreamCreate, "cuStreamCreate_v2", "cuStreamCreate"),
    KVN_BIND(CudaFunctions, cuStreamDestroy, "cuStreamDestroy_v2", "cuStreamDestroy"),
    KVN_BIND(CudaFunctions, cuStreamSynchronize, "cuStreamSynchronize_v2", "cuStreamSynchronize"),
    KVN_BIND(CudaFunctions, cuMemcpyHtoDAsync, "cuMemcpyHtoDAsync_v2", nullptr),
    KVN_BIND(CudaFunctions, cuMemcpyDtoHAsync, "cuMemcpyDtoHAsync_v2", nullptr),
    KVN_BIND(CudaFunctions, cuMemcpyDtoDAsync, "cuMemcpyDtoDAsync_v2", nullptr),
    KVN_BIND(CudaFunctions, cuMemsetD8Async, "cuMemsetD8Async", nullptr),
    KVN_BIND(CudaFunctions, cuMemAllocHost, "cuMemAllocHost_v2", nullptr),
    KVN_BIND(CudaFunctions, cuMemFreeHost, "cuMemFreeHost", nullptr),
    KVN_BIND(CudaFunctions, cuCtxGetCurrent, "cuCtxGetCurrent", nullptr),
    KVN_BIND(CudaFunctions, cuCtxSetCurrent, "cuCtxSetCurrent", nullptr),
    KVN_BIND(CudaFunctions, cuMemGetInfo, "cuMemGetInfo_v2", nullptr),
    KVN_BIND(CudaFunctions, cuCtxSetLimit, "cuCtxSetLimit", nullptr),
    KVN_BIND(CudaFunctions, cuStreamSetAttribute, "cuStreamSetAttribute", nullptr),
    KVN_BIND(CudaFunctions, cuEventCreate, "cuEventCreate", nullptr),
    KVN_BIND(CudaFunctions, cuEventRecord, "cuEventRecord", nullptr),
    KVN_BIND(CudaFunctions, cuStreamWaitEvent, "cuStreamWaitEvent", nullptr),
    KVN_BIND(CudaFunctions, cuEventSynchronize, "cuEventSynchronize", nullptr),
    KVN_BIND(CudaFunctions, cuEventElapsedTime, "cuEventElapsedTime", nullptr),
    KVN_BIND(CudaFunctions, cuEventDestroy, "cuEventDestroy_v2", nullptr),
};

constexpr Binding kEncodeBindings[] = {
    KVN_BIND(CudaEncodeFunctions, cuModuleLoadData, "cuModuleLoadData", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuModuleGetFunction, "cuModuleGetFunction", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemAlloc, "cuMemAlloc_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemFree, "cuMemFree_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemcpyHtoD, "cuMemcpyHtoD_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemcpyDtoH, "cuMemcpyDtoH_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuModuleGetGlobal, "cuModuleGetGlobal_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemcpyDtoDAsync, "cuMemcpyDtoDAsync_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuLaunchKernel, "cuLaunchKernel", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuCtxSynchronize, "cuCtxSynchronize", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemsetD8, "cuMemsetD8_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemGetInfo, "cuMemGetInfo_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemAllocHost, "cuMemAllocHost_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemFreeHost, "cuMemFreeHost", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuMemcpyDtoHAsync, "cuMemcpyDtoHAsync_v2", nullptr),
    KVN_BIND(CudaEncodeFunctions, cuStreamSynchronize, "cuStreamSynchronize", nullptr),
};

#undef KVN_BIND

template <size_t N>
void bindAll(void* library, const Binding (&bindings)[N], void* set) {
    for (const Binding& binding : bindings) {
        void* symbol = findSymbol(library, binding.name);
        if (!symbol && binding.fallback) symbol = findSymbol(library, binding.fallback);
        // Every field is a function pointer of the same size as the symbol.
        std::memcpy(static_cast<char*>(set) + binding.offset, &symbol, sizeof(symbol));
    }
}

}  // namespace

void bindCudaFunctions(void* library, CudaFunctions* out) { bindAll(library, kDecodeBindings, out); }

void bindCudaEncodeFunctions(void* library, CudaEncodeFunctions* out) { bindAll(library, kEncodeBindings, out); }

}  // namespace kvn
