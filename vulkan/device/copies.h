// Copies between host and device memory and between device buffers. Device
// buffers are never mapped: host bytes pass through a staging buffer or an
// imported host range. Every copy checks its offsets and size against the
// buffers (-1 instead of overrunning), and a zero-byte copy does nothing.
#pragma once

#include <cstdint>

#include "vulkan/device/gpu_ops.h"

namespace kvn {

// Synchronous: recorded on the one-shot command buffer and waited for.
int32_t procMemcpyHtoD(DeviceBufferHandle dst, const void* src, uint64_t bytes);
int32_t procMemcpyDtoH(void* dst, DeviceBufferHandle src, uint64_t bytes);
int32_t procMemcpyDtoHSrcOffset(void* dst, DeviceBufferHandle src, uint64_t bytes, uint64_t src_offset);
int32_t procMemcpyDtoHGather(void* dst_base, DeviceBufferHandle src, const CopyRegion* regions, uint64_t count);

// Recorded on a stream; with no or an invalid stream they run synchronously.
int32_t procMemcpyHtoDAsync(DeviceBufferHandle dst, const void* src, uint64_t bytes, StreamHandle stream);
int32_t procMemcpyDtoHAsync(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);
int32_t procMemcpyDtoHXferAsync(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);
int32_t procMemcpyDtoDAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream);
int32_t procMemcpyDtoDSrcOffsetAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset,
                                     uint64_t bytes, StreamHandle stream);
int32_t procMemcpyDtoDSrcOffsetTransferAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset,
                                             uint64_t bytes, StreamHandle stream);
int32_t procMemcpyDtoDDstOffsetAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t dst_offset,
                                     uint64_t bytes, StreamHandle stream);

// Shared by the synchronous and stream copies.
namespace copy_commands {

// A device-to-host copy of n > 3 bytes that is not a multiple of 4 is
// recorded as the whole words, then the 1 to 3 bytes after them.
void recordSplitCopy(VkCommandBuffer cb, VkBuffer src, uint64_t src_offset, VkBuffer dst, uint64_t dst_offset,
                     uint64_t bytes);
void recordCopy(VkCommandBuffer cb, VkBuffer src, uint64_t src_offset, VkBuffer dst, uint64_t dst_offset,
                uint64_t bytes);
// Compute writes before a transfer read; transfer writes before compute reads.
void recordPreCopyBarrier(VkCommandBuffer cb);
void recordPostCopyBarrier(VkCommandBuffer cb);

}  // namespace copy_commands

}  // namespace kvn
