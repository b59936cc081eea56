// How far a stream's submitted work has come. Each compute barrier recorded
// on a stream is followed by a fill of a host-visible word with a new mark,
// made when the compute work before the barrier has finished, so a host that
// waits for a long submission tells a device working through many launches
// from one stuck in one.
#pragma once

#include <cstdint>

#include "vulkan/device/memory_allocator.h"

namespace kvn {

struct StreamProgress {
    VkBuffer buffer = VK_NULL_HANDLE;
    VmaAllocation allocation = VK_NULL_HANDLE;
    const volatile uint32_t* word = nullptr;  // the last mark the device reached
    uint32_t marks = 0;                       // recorded so far
};

// Made with its stream; false leaves none, and the stream works without marks.
bool createStreamProgress(StreamProgress& progress);
void destroyStreamProgress(StreamProgress& progress);

// The stages a barrier before a mark waits with: the mark's fill.
inline constexpr VkPipelineStageFlags kProgressMarkStage = VK_PIPELINE_STAGE_TRANSFER_BIT;

// Records the next mark in `cb`, after a barrier that makes kProgressMarkStage
// wait for the compute work before it. Marks may land out of order; any
// change of the word shows that work finished.
void recordProgressMark(StreamProgress& progress, VkCommandBuffer cb);

}  // namespace kvn
