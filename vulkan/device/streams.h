// Streams: ordered places where the pipelines record copies, fills,
// timestamps and launches, which reach the device when the stream ends.
#pragma once

#include <cstdint>
#include <vector>

#include "vulkan/device/memory_allocator.h"

namespace kvn {

struct RetiredStagingBuffer {
    VkBuffer buffer = VK_NULL_HANDLE;
    VmaAllocation allocation = VK_NULL_HANDLE;
};

// A device-to-host copy that lands in host memory when the stream ends.
struct PendingHostCopy {
    void* host_dst = nullptr;
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

    StreamStagingBuffer staging;
    std::vector<RetiredStagingBuffer> retired_staging;
    std::vector<PendingHostCopy> pending_copies;
    std::vector<DeferredRelease> deferred_releases;

    VkDescriptorSet cached_sets[kStreamCachedSets] = {};

    PreImportedRange source_import;
    PreImportedRange destination_import;

    bool hasAuxSet() const { return aux_cb != VK_NULL_HANDLE; }
};

// New stream record (flags are ignored); 0 with *out = index + 1, or -1.
int32_t procStreamCreate(uint64_t* out, uint32_t flags);

}  // namespace kvn
