// Kernel launch: the argument list of a CUDA launch turned into a compute
// dispatch. The first parameters name device buffers (storage-buffer
// bindings, optionally at byte offsets), the rest fill the push constants.
#pragma once

#include <cstdint>

#include "pipeline/device/backend_hooks.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/vulkan_api.h"

namespace kvn {

// Launches with offsets and no stream reset the shared transient pool after this many sets.
inline constexpr uint32_t kTransientSetsBeforeReset = 3500;

int32_t procLaunchKernel(KernelHandle kernel, uint32_t grid_x, uint32_t grid_y, uint32_t grid_z, uint32_t block_x,
                         uint32_t block_y, uint32_t block_z, uint32_t shared_bytes, StreamHandle stream,
                         void** params, void** extra, const uint64_t* binding_offsets);

// The decode kernel index 0..20 whose pipeline this is, else 0xFFFFFFFF.
uint32_t kernelIndexOfPipeline(VkPipeline pipeline);

// "error: procLaunchKernel: SSBO binding <b> offset <o> violates minStorageBufferOffsetAlignment <a>"
void reportSsboOffsetMisaligned(uint32_t binding, uint64_t offset, uint64_t alignment);

// "error: procLaunchKernel: SSBO binding <b> range <r> exceeds maxStorageBufferRange <m>"
void reportBindingTooLarge(uint32_t binding, uint64_t range, uint64_t max_range);

// "error: procLaunchKernel: grid (x,y,z) exceeds maxComputeWorkGroupCount (a,b,c) and the kernel reads its grid size"
void reportGridTooLarge(const uint32_t grid[3], const uint32_t limit[3]);

}  // namespace kvn
