// The word transform of one frame's text on the GPU: the words are counted
// in a device hash table, the dictionary is chosen on the host from the
// candidates read back, and each 4096-byte segment is transformed into its
// own area before the areas are packed into one transformed buffer. The
// result equals the CPU transform's byte for byte.
#pragma once

#include <cstdint>

#include "core/handle/encoder_state.h"
#include "core/wrt/wrt_format.h"

namespace kvn {

struct WrtEncodeResult {
    DeviceBufferHandle text = 0;    // the transformed text, owned by the encoder's buffers
    DeviceBufferHandle source = 0;  // the caller's text it was made from, likewise
    uint64_t text_size = 0;       // E
    WrtSectionBlob section;
    uint64_t elapsed_ns = 0;      // GPU phases, for the process-wide statistic
    bool ok = false;
};

// The transform of the frame input text[0, n) (frame_source.h).
// True with `result` filled when the transform applies. False otherwise:
// with `not_applied` set the frame simply goes without WRT (too short, no
// word worth a code, a segment overflow, no gain); with it clear the GPU
// road failed and the CPU transform is to run instead.
bool wrtEncodeGpu(WrtEncodeResult* result, EncoderState& encoder, const uint8_t* text, uint64_t n, bool* not_applied);

// Drops the section; the transformed buffer stays the encoder's.
void freeWrtEncodeResult(WrtEncodeResult* result);

// Nanoseconds the GPU transform has run in this process.
uint64_t wrtGpuElapsedNs();

}  // namespace kvn
