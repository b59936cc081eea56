#include "cuda/device/init_report.h"

#include <cstdio>

#include "core/platform/platform.h"

namespace kvn {

void reportInitFailure(const char* step, CuResult result) {
    if (envPresent("KVN_CUDA_INIT_DEBUG")) std::fprintf(stderr, "[gpu-init] FAILED at %s (CUresult %d)\n", step, result);
}

void reportEncodeInitFailure(const char* step, CuResult result) {
    if (envPresent("KVN_CUDA_INIT_DEBUG"))
        std::fprintf(stderr, "[gpu-init] encode FAILED at %s (CUresult %d)\n", step, result);
}

void reportDriverMissing() {
    std::fprintf(stderr, "[gpu-init] loading the CUDA driver library (nvcuda.dll / libcuda.so.1) failed - no NVIDIA driver?\n");
}

void printInitTimings(const InitTimings& t) {
    std::fprintf(stderr, "[gpu-init] dll+cuInit+%s %.2f  lz-module(PTX JIT) %.2f  huff-module(PTX JIT) %.2f  total %.2f ms\n",
                 t.mode, t.driver_ms, t.lz_ms, t.other_modules_ms, t.total_ms);
}

}  // namespace kvn
