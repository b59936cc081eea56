// The whole-input road for device-resident input of several frames at level
// code 3 and up: one walk of every frame on the device, one decode batch for
// all of them, then each frame's chunk prefixes, Merkle verdict and checksum.
#pragma once

#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "core/jobs.h"
#include "pipeline/decode/device_frame_checks.h"

namespace kvn {

// Whether the road can decode these frames (listed by the host from their
// first bytes) faithfully: all at level code 3 or above, none byte-plane or WRT,
// one dictionary for all, every frame's output at a binding offset, and a
// chunk count one batch holds. Anything else takes the frame loop.
bool megaSuits(const std::vector<FrameShape>& frames);

struct MegaResult {
    uint64_t bytes;
    Error error;
    bool taken;  // false: the walk found a shape the road does not take (the frame loop decodes the input)
};

MegaResult decodeMega(const DeviceDecompressJob& job, DecoderState& decoder, const std::vector<FrameShape>& frames);

}  // namespace kvn
