// A launch as the shared pipelines describe it (buffers with binding offsets,
// then 32-bit words; a grid of workgroups) turned into the CUDA form: one
// argument per PTX parameter, each buffer and address one u64 device pointer,
// each scalar its own 32 bits, and a grid of blocks of the kernel's shape.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "cuda/device/kernel_table.h"

namespace kvn {

inline constexpr uint32_t kMaxCudaArguments = 32;

struct CudaArguments {
    uint32_t grid_x;
    uint32_t block_x;
    uint32_t block_y;
    uint64_t values[kMaxCudaArguments];  // a scalar in the low 4 bytes
    void* pointers[kMaxCudaArguments];   // pointers[i] = &values[i], as cuLaunchKernel reads them
    uint32_t count;
};

// BadRequest when the described launch does not fill the table exactly
// (a buffer where a word goes, too few or too many of either), or when the
// workgroups do not make whole blocks.
Error buildCudaArguments(const KernelParams& table, uint32_t workgroups, void* const* params,
                         const LaunchArgCounts& counts, const uint64_t* binding_offsets, CudaArguments* out);

}  // namespace kvn
