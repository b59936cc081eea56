// The two process-wide staging buffers of the synchronous copies: device
// buffers are never mapped, so host bytes pass through these.
#pragma once

#include <cstdint>

namespace kvn {

struct StagingBuffer;

// Grow the buffer to hold `bytes` (1 MiB doubled as often as needed); the
// content is not kept. False leaves no buffer and capacity 0.
bool ensureUploadBuffer(uint64_t bytes);
bool ensureReadbackBuffer(uint64_t bytes);

void destroyStagingBuffer(StagingBuffer& staging);

}  // namespace kvn
