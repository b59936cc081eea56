// Turning the decode modules into compute pipelines.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvn {

struct VulkanContext;

// Builds decode kernel `index` from its SPIR-V: a set layout of the row's
// storage buffers, a push-constant range of its bytes, and the pipeline. On
// failure everything made for it is destroyed and its handle stays empty.
bool buildKernel(uint32_t index, const uint8_t* spirv, size_t length);

// "[vk-init] buildKernel(<handle name>) FAILED: <call>", with KVN_VK_INIT_DEBUG.
void reportBuildKernelFailure(uint32_t index, const char* call);

// Builds kernels 0 to 20 in order from kernelModules(); false as soon as a
// required one fails.
bool buildDecodeKernels(VulkanContext& ctx);

// Destroys every decode pipeline with its layouts and module, emptying the handles.
void destroyDecodeKernels(VulkanContext& ctx);

}  // namespace kvn
