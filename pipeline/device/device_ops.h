// The device-operations table: the one vocabulary through which the decode
// and encode pipelines and the buffer exports reach the device. Its slots
// mirror CUDA driver operations; every slot returns Error::None or the named
// cause of its failure (BadRequest for a bad, dead or unsupported request),
// so the pipelines never read a backend's own result codes.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/interface/backend.h"


namespace kvn {

// A built kernel: the Vulkan library's compute pipeline, the CUDA library's
// function. Opaque to the pipelines; null is no kernel.
struct KernelObject;
using KernelHandle = KernelObject*;

// What one launch may pass: buffers first, then 32-bit push words.
inline constexpr uint32_t kMaxLaunchBindings = 16;
inline constexpr uint32_t kMaxPushBytes = 256;

// How many of a launch's `params` are buffer handles (each with its binding
// offset) and how many, after them, are 32-bit words; a launch passes it as
// `extra[0]`. A backend whose kernels take one argument per parameter (CUDA)
// rebuilds the arguments from these; without it such a backend refuses.
struct LaunchArgCounts {
    uint32_t buffers;
    uint32_t words;
};

// One region of memcpyDtoHGather; laid out as VkBufferCopy.
struct CopyRegion {
    uint64_t srcOffset;
    uint64_t dstOffset;
    uint64_t size;
};

struct GpuOpsTable {
    Error (*memAlloc)(uint64_t* out, uint64_t bytes);
    Error (*memFree)(DeviceBufferHandle buffer);
    Error (*memcpyHtoD)(DeviceBufferHandle dst, const void* src, uint64_t bytes);
    Error (*memcpyDtoH)(void* dst, DeviceBufferHandle src, uint64_t bytes);
    Error (*memcpyDtoHSrcOffset)(void* dst, DeviceBufferHandle src, uint64_t bytes, uint64_t src_offset);
    Error (*memcpyDtoHGather)(void* dst_base, DeviceBufferHandle src, const CopyRegion* regions, uint64_t count);
    Error (*memcpyHtoDAsync)(DeviceBufferHandle dst, const void* src, uint64_t bytes, StreamHandle stream);
    Error (*memcpyDtoHAsync)(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);
    Error (*memcpyDtoDAsync)(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);
    Error (*memcpyDtoDSrcOffsetAsync)(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset,
                                        uint64_t bytes, StreamHandle stream);
    Error (*memcpyDtoDSrcOffsetTransferAsync)(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset,
                                                uint64_t bytes, StreamHandle stream);
    Error (*memcpyDtoDDstOffsetAsync)(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t dst_offset,
                                        uint64_t bytes, StreamHandle stream);
    Error (*memGetInfo)(uint64_t* free_bytes, uint64_t* total_bytes);
    Error (*memsetD8)(DeviceBufferHandle buffer, uint32_t value, uint64_t count);
    Error (*memsetD8Async)(DeviceBufferHandle buffer, uint32_t value, uint64_t count, StreamHandle stream);
    Error (*memAllocHost)(void** out, uint64_t bytes);
    Error (*memFreeHost)(void* pointer);
    Error (*streamSynchronize)(StreamHandle stream);
    Error (*streamFlushTransfer)(StreamHandle stream);
    Error (*ctxSynchronize)();
    Error (*ctxSetCurrent)(void* context);
    Error (*ctxGetCurrent)(void** out);
    Error (*streamCreate)(uint64_t* out, uint32_t flags);
    Error (*streamDestroy)(StreamHandle stream);
    Error (*eventCreate)(uint64_t* out, uint32_t flags);
    Error (*eventRecord)(EventHandle event, StreamHandle stream);
    Error (*eventSynchronize)(EventHandle event);
    Error (*eventElapsedTime)(float* ms, EventHandle start, EventHandle end);
    Error (*eventDestroy)(EventHandle event);
    // Block sizes and shared bytes are ignored: the local size is compiled
    // into the kernel. `params` holds the buffers, then the push words; the
    // grid counts workgroups (a warp kernel's block is one workgroup per warp).
    // `extra` is null or {pointer to a LaunchArgCounts}. `binding_offsets` is null or one
    // offset per binding.
    Error (*launchKernel)(KernelHandle kernel, uint32_t grid_x, uint32_t grid_y, uint32_t grid_z, uint32_t block_x,
                            uint32_t block_y, uint32_t block_z, uint32_t shared_bytes, StreamHandle stream,
                            void** params, void** extra, const uint64_t* binding_offsets);
    Error (*streamComputeBarrier)(StreamHandle stream);
    Error (*streamSwitchToAux)(StreamHandle stream);
    Error (*memcpyDtoHXferAsync)(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);
    // Later work on `stream` waits for `event`'s last recording; empty on a
    // device whose streams are not ordered with each other by events.
    Error (*streamWaitEvent)(StreamHandle stream, EventHandle event);

    float timestamp_period;  // nanoseconds per timestamp tick
};

// The process-wide table. Empty until bring-up succeeds, except the two
// context slots; callers call ensureDevice first and treat an empty slot as
// a failure.
GpuOpsTable& gpuOps();

}  // namespace kvn
