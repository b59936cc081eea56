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

// The library's decode of such an input (`total` bytes) in one launch on the
// stream in use, when it has one (each library links one definition): sets
// `decoded` when the bytes are in place, before the frames' checks; leaves it
// clear, without error, when it does not take the input, which the walk and
// the dispatches of decodeMega then decode.
Error decodeInOneLaunch(const DeviceDecompressJob& job, DecoderState& decoder, uint64_t total, bool* decoded);

}  // namespace kvn
