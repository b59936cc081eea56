// Filling the device-operations table with the Vulkan implementations.
#pragma once

#include "pipeline/device/device_ops.h"
#include "vulkan/device/vulkan_api.h"

namespace kvn {

// A kernel handle is the kernel's compute pipeline.
inline KernelHandle kernelHandleOf(VkPipeline pipeline) { return reinterpret_cast<KernelHandle>(pipeline); }
inline VkPipeline pipelineOf(KernelHandle kernel) { return reinterpret_cast<VkPipeline>(kernel); }

// Written by bring-up inside its lock, before the state becomes ready.
void fillGpuOps();
// Back to the state before bring-up: a failed bring-up leaves no slot
// pointing at objects it destroyed.
void clearGpuOps();

}  // namespace kvn
