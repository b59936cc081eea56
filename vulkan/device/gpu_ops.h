// The device-operations table: the one vocabulary through which the decode
// and encode pipelines and the buffer exports reach the device. Its slots
// mirror CUDA driver operations; every slot returns 0 for success, -1 for a
// bad, dead or unsupported request, or the VkResult of the Vulkan call that
// failed.
#pragma once

#include <cstdint>

#include "vulkan/device/vulkan_api.h"

namespace kvn {

// Registry index + 1 of a device buffer; 0 is none. Never an address:
// offsets travel as separate arguments.
using DeviceBufferHandle = uint64_t;
// Stream record index + 1; 0 runs the operation synchronously.
using StreamHandle = uint64_t;
// Timestamp query index + 1; only the low 32 bits count.
using EventHandle = uint64_t;
// The pipeline of a kernel record.
using KernelHandle = VkPipeline;

// One region of memcpyDtoHGather; laid out as VkBufferCopy.
struct CopyRegion {
    uint64_t srcOffset;
    uint64_t dstOffset;
    uint64_t size;
};

struct GpuOpsTable {
    int32_t (*memAlloc)(uint64_t* out, uint64_t bytes);
    int32_t (*memFree)(DeviceBufferHandle buffer);
    int32_t (*memcpyHtoD)(DeviceBufferHandle dst, const void* src, uint64_t bytes);
    int32_t (*memcpyDtoH)(void* dst, DeviceBufferHandle src, uint64_t bytes);
    int32_t (*memcpyDtoHSrcOffset)(void* dst, DeviceBufferHandle src, uint64_t bytes, uint64_t src_offset);
    int32_t (*memcpyDtoHGather)(void* dst_base, DeviceBufferHandle src, const CopyRegion* regions, uint64_t count);
    int32_t (*memcpyHtoDAsync)(DeviceBufferHandle dst, const void* src, uint64_t bytes, StreamHandle stream);
    int32_t (*memcpyDtoHAsync)(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);
    int32_t (*memcpyDtoDAsync)(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);
    int32_t (*memcpyDtoDSrcOffsetAsync)(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset,
                                        uint64_t bytes, StreamHandle stream);
    int32_t (*memcpyDtoDSrcOffsetTransferAsync)(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset,
                                                uint64_t bytes, StreamHandle stream);
    int32_t (*memcpyDtoDDstOffsetAsync)(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t dst_offset,
                                        uint64_t bytes, StreamHandle stream);
    int32_t (*memGetInfo)(uint64_t* free_bytes, uint64_t* total_bytes);
    int32_t (*memsetD8)(DeviceBufferHandle buffer, uint32_t value, uint64_t count);
    int32_t (*memsetD8Async)(DeviceBufferHandle buffer, uint32_t value, uint64_t count, StreamHandle stream);
    int32_t (*memAllocHost)(void** out, uint64_t bytes);
    int32_t (*memFreeHost)(void* pointer);
    int32_t (*streamSynchronize)(StreamHandle stream);
    int32_t (*streamFlushTransfer)(StreamHandle stream);
    int32_t (*ctxSynchronize)();
    int32_t (*ctxSetCurrent)(void* context);
    int32_t (*ctxGetCurrent)(void** out);
    int32_t (*streamCreate)(uint64_t* out, uint32_t flags);
    int32_t (*streamDestroy)(StreamHandle stream);
    int32_t (*eventCreate)(uint64_t* out, uint32_t flags);
    int32_t (*eventRecord)(EventHandle event, StreamHandle stream);
    int32_t (*eventSynchronize)(EventHandle event);
    int32_t (*eventElapsedTime)(float* ms, EventHandle start, EventHandle end);
    int32_t (*eventDestroy)(EventHandle event);
    // Block sizes, shared bytes and `extra` are ignored: the local size is
    // compiled into the kernel. `binding_offsets` is null or one offset per binding.
    int32_t (*launchKernel)(KernelHandle kernel, uint32_t grid_x, uint32_t grid_y, uint32_t grid_z, uint32_t block_x,
                            uint32_t block_y, uint32_t block_z, uint32_t shared_bytes, StreamHandle stream,
                            void** params, void** extra, const uint64_t* binding_offsets);
    int32_t (*streamComputeBarrier)(StreamHandle stream);
    int32_t (*streamSwitchToAux)(StreamHandle stream);
    int32_t (*memcpyDtoHXferAsync)(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);

    float timestamp_period;  // nanoseconds per timestamp tick
};

// The process-wide table. Empty until bring-up succeeds, except the two
// context slots; callers call ensureVulkanContext first and treat an empty
// slot as a failure.
GpuOpsTable& gpuOps();

// Written by bring-up inside its lock, before the state becomes ready.
void fillGpuOps();
// Back to the state before bring-up: a failed bring-up leaves no slot
// pointing at objects it destroyed.
void clearGpuOps();

}  // namespace kvn
