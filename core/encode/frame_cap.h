// The largest frame one compress call makes: from KVN_FRAME_CAP, else from the
// device's memory, in whole chunks and never more than the device's chunks
// per frame.
#pragma once

#include <cstdint>

namespace kvn {

struct FrameCapDevice {
    uint64_t local_heap = 0;     // the largest device-local heap; 0 when unknown
    uint64_t binding_limit = 0;  // the most one storage binding reaches; 0 when unlimited
    bool integrated = false;
    uint64_t max_chunks = 16384;  // the most chunks of one frame
};

struct FrameCap {
    uint64_t bytes;
    // Level 5 on an integrated GPU was held to 64 MiB: the caller may say why.
    bool integrated_limit;
};

// The cap at `level` for chunks of `chunk` bytes (at least 1); env_cap is
// KVN_FRAME_CAP's text or null.
FrameCap frameCap(int32_t level, uint64_t chunk, const char* env_cap, const FrameCapDevice& device);

}  // namespace kvn
