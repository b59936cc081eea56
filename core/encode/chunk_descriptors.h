// The per-sub-chunk records the LZ encode kernels read, built in frame order.
#pragma once

#include <cstdint>
#include <vector>

#include "core/encode/frame_geometry.h"

namespace kvn {

// Shared with the encode kernels: five u32 words.
struct CompressChunkDesc {
    uint32_t src_offset;     // of the sub-chunk in the frame input
    uint32_t length;
    uint32_t out_offset;     // of its LZ output slot: index x out_stride
    uint32_t out_stride;     // 3 x the sub-chunk size: a slot holds the streams and the kernel's scratch
    uint32_t first;          // 1 for the frame's first sub-chunk
};
static_assert(sizeof(CompressChunkDesc) == 20);

inline constexpr uint32_t kLzSlotFactor = 3;

// One descriptor per sub-chunk of a frame of len bytes (below 2^31).
std::vector<CompressChunkDesc> buildChunkDescriptors(const FrameGeometry& geometry, uint64_t len);

}  // namespace kvn
