// A stream's own staging buffer: host bytes of its recorded copies wait here
// until the stream ends. It grows by replacement; a replaced buffer is
// retired and lives until the stream ends, since recorded copies still use it.
#pragma once

#include <cstdint>
#include <optional>

#include "vulkan/device/vulkan_api.h"

namespace kvn {

struct StreamRecord;

struct StagingSpan {
    VkBuffer buffer;
    uint8_t* mapped;  // the buffer's mapping (not advanced by offset)
    uint64_t offset;
};

// Room for `bytes` at a 64-byte aligned offset; empty when no buffer can be made.
std::optional<StagingSpan> streamStagingAlloc(StreamRecord& s, uint64_t bytes);

// Destroys the retired buffers (at stream end).
void retireStreamStaging(StreamRecord& s);
// Destroys the staging buffer and the retired ones (at stream destruction).
void destroyStreamStaging(StreamRecord& s);

}  // namespace kvn
