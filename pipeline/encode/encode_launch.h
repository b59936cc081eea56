// Launches of the encode kernels: the buffers become storage-buffer bindings
// in order and the 32-bit words the push block.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "core/handle/encoder_state.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// Warp kernels run one warp per workgroup on Vulkan: a grid of B blocks of
// W warps is dispatched as B x W workgroups.
struct EncodeKernelShape {
    uint32_t block_threads;
    bool warp_kernel;
};
inline constexpr EncodeKernelShape kLzEncodeShape{32, true};
inline constexpr EncodeKernelShape kAssembleShape{32, true};
inline constexpr EncodeKernelShape kFrameAssembleShape{128, false};

// None when the launch was recorded. When an encoder is given and records
// timings, the launch is bracketed by a pair of events under `label`.
// `vulkan_only` are bindings the Vulkan pipeline declares after `buffers` and
// the kernel never reads; the CUDA form has no parameter for them.
// On `stream` the launch is queued, with a barrier after it so that what
// the stream does next sees what the kernel wrote; stream 0 launches and
// waits for the kernel. `binding_offsets`, when given, holds a byte offset
// for each of `buffers` and `vulkan_only`, multiples of the device's binding
// alignment; such a launch also has bindings of its own among the stream's
// launches of the same kernel.
Error launchEncodeKernelOn(StreamHandle stream, EncoderState* timed, const char* label, KernelHandle kernel,
                           EncodeKernelShape shape, uint32_t blocks,
                           std::initializer_list<DeviceBufferHandle> buffers, std::initializer_list<uint32_t> words,
                           std::initializer_list<DeviceBufferHandle> vulkan_only = {},
                           const uint64_t* binding_offsets = nullptr);

inline Error launchEncodeKernel(EncoderState* timed, const char* label, KernelHandle kernel, EncodeKernelShape shape,
                                uint32_t blocks, std::initializer_list<DeviceBufferHandle> buffers,
                                std::initializer_list<uint32_t> words,
                                std::initializer_list<DeviceBufferHandle> vulkan_only = {},
                                const uint64_t* binding_offsets = nullptr) {
    return launchEncodeKernelOn(0, timed, label, kernel, shape, blocks, buffers, words, vulkan_only,
                                binding_offsets);
}

}  // namespace kvn
