// The bring-up's messages on standard error.
#pragma once

#include "cuda/device/cuda_api.h"

namespace kvn {

// "[gpu-init] FAILED at <step> (CUresult <n>)", only under KVN_CUDA_INIT_DEBUG.
void reportInitFailure(const char* step, CuResult result);
// The encode bring-up's form of the same line.
void reportEncodeInitFailure(const char* step, CuResult result);
void reportDriverMissing();

struct InitTimings {
    const char* mode;
    double driver_ms;
    double lz_ms;
    double other_modules_ms;
    double total_ms;
};
void printInitTimings(const InitTimings& timings);

}  // namespace kvn
