// Streams: ordered places where the pipelines record copies, fills,
// timestamps and launches, which reach the device when the stream ends.
#pragma once

#include <cstdint>
#include <vector>

#include "vulkan/device/descriptor_sets.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/memory_allocator.h"
#include "vulkan/device/stream_progress.h"

namespace kvn {

struct RetiredStagingBuffer {
    VkBuffer buffer = VK_NULL_HANDLE;
    VmaAllocation allocation = VK_NULL_HANDLE;
};

// A device-to-host copy that lands in host memory when the stream ends. It
// names the mapping it was staged in: a staging buffer replaced meanwhile is
// retired, not destroyed, until the stream ends.
struct PendingHostCopy {
    void* host_dst = nullptr;
    const uint8_t* staging = nullptr;
    uint64_t staging_offset = 0;
    uint64_t bytes = 0;
};

// An imported host range to release when the stream ends; slot -1 is an
// import outside the cache, destroyed rather than unpinned.
struct DeferredRelease {
    VkBuffer buffer = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    uint64_t offset = 0;
    int32_t slot = -1;
};

// A host range the decode pipeline imported ahead of the copy that uses it.
struct PreImportedRange {
    VkBuffer buffer = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    uint64_t offset = 0;
    int32_t slot = -1;
    const void* host = nullptr;  // source imports only
    uint64_t bytes = 0;          // source imports only
    bool valid = false;
};

struct StreamStagingBuffer {
    VkBuffer buffer = VK_NULL_HANDLE;
    VmaAllocation allocation = VK_NULL_HANDLE;
    void* mapped = nullptr;
    uint64_t capacity = 0;
    uint64_t used = 0;
};

inline constexpr uint32_t kStreamCachedSets = 21;  // one per decode kernel

struct StreamRecord {
    bool live = false;

    // The stream's own command pools (compute family, transfer family).
    VkCommandPool compute_pool = VK_NULL_HANDLE;
    VkCommandPool transfer_pool = VK_NULL_HANDLE;

    // Compute part, and the transfer part whose submission signals
    // transfer_done for the compute submission to wait on.
    VkCommandBuffer compute_cb = VK_NULL_HANDLE;
    VkFence compute_fence = VK_NULL_HANDLE;
    VkCommandBuffer transfer_cb = VK_NULL_HANDLE;
    VkSemaphore transfer_done = VK_NULL_HANDLE;

    // Auxiliary set, all or nothing: lets the compute work end in two parts
    // and the result copy run on the transfer queue.
    VkCommandBuffer aux_cb = VK_NULL_HANDLE;
    VkCommandBuffer d2h_cb = VK_NULL_HANDLE;
    VkSemaphore compute_to_aux = VK_NULL_HANDLE;
    VkSemaphore compute_to_d2h = VK_NULL_HANDLE;
    VkFence aux_fence = VK_NULL_HANDLE;
    VkFence d2h_fence = VK_NULL_HANDLE;

    bool compute_begun = false;
    bool transfer_begun = false;
    bool transfer_submitted = false;
    bool aux_mode = false;
    bool aux_begun = false;
    bool d2h_begun = false;
    // The thread recording into the stream since it left idle (0 when idle);
    // read by other threads only through std::atomic_ref.
    uintptr_t recorder = 0;

    StreamStagingBuffer staging;
    std::vector<RetiredStagingBuffer> retired_staging;
    StreamProgress progress;
    std::vector<PendingHostCopy> pending_copies;
    std::vector<DeferredRelease> deferred_releases;

    // Descriptor sets belong to one stream: launches without offsets reuse a
    // set per kernel, launches with offsets (and a second launch of a kernel
    // in one recording) take a fresh one from the stream's transient pools,
    // which are reset when the stream ends.
    VkDescriptorSet cached_sets[kStreamCachedSets] = {};
    bool cached_set_used[kStreamCachedSets] = {};  // bound since the stream last ended
    std::vector<CachedKernelSet> encode_sets;
    DescriptorPoolChain cached_pools;
    DescriptorPoolChain transient_pools;

    PreImportedRange source_import;
    PreImportedRange destination_import;

    bool hasAuxSet() const { return aux_cb != VK_NULL_HANDLE; }
};

// New stream record (flags are ignored); 0 with *out = index + 1, or -1.
int32_t procStreamCreate(uint64_t* out, uint32_t flags);
// Frees the stream without submitting or waiting; 0 also for 0 or an invalid stream.
int32_t procStreamDestroy(StreamHandle stream);

// The live record of `stream`, or null for 0, an index outside the array or a
// destroyed stream: callers then work synchronously. A stream is used by one
// thread at a time; the array does not move within its reserved room.
StreamRecord* streamRecord(StreamHandle stream);

// The begin steps: each resets and begins its command buffer when its flag is
// clear. streamBegin also writes the decode-profiling start stamp.
int32_t streamBegin(StreamRecord& s);
int32_t streamBeginAux(StreamRecord& s);
int32_t streamBeginTransfer(StreamRecord& s);
int32_t streamBeginXferD2H(StreamRecord& s);

// Whether the calling thread is the one recording into `s` (false when idle).
bool recordedByThisThread(const StreamRecord& s);
// Back to idle: no thread records into `s`.
void clearRecorder(StreamRecord& s);

// Unpins or destroys the stream's imports and empties the list.
void runDeferredReleases(StreamRecord& s);

}  // namespace kvn
