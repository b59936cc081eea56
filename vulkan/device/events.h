// Timestamp events: query indices of the timestamp pool handed out as
// EventHandles, so that timing code written for CUDA events works unchanged;
// and the whole-decode profile stamps.
#pragma once

#include <cstdint>

#include "vulkan/device/gpu_ops.h"

namespace kvn {

int32_t procEventCreate(uint64_t* out, uint32_t flags);
int32_t procEventRecord(EventHandle event, StreamHandle stream);
// Ends every open stream and waits for the whole device.
int32_t procEventSynchronize(EventHandle event);
int32_t procEventElapsedTime(float* ms, EventHandle start, EventHandle end);
// -1 for a handle that is not handed out: never created, destroyed already, or reserved.
int32_t procEventDestroy(EventHandle event);

// The decode-profile stamps, written while KVN_VK_PROFILE_DECODE is on.
void writeProfileStartStamp(VkCommandBuffer cb);
void writeProfileEndStamp(VkCommandBuffer cb);

}  // namespace kvn
