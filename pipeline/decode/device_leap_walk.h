// The leap walk of a whole device-resident input: the host drives
// kvnMegaLeapKernel phase by phase and reads its state word between phases.
// It takes inputs whose every frame holds one coded block of at least 1 MiB
// of payload and 256 chunks; any other input, and one whose frames outnumber
// the rounds the input's size allows, is left to the serial walk.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "kernels/format_constants.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// Warps of the parallel phases; a frame may have 64 chunks per warp.
inline constexpr uint32_t kLeapWarps = 256;
// The control block: header words, then per warp its result words and its
// candidate list of two-word entries.
inline constexpr uint64_t kLeapControlBytes =
    4 * (KVN_LEAP_HEADER_WORDS + uint64_t{kLeapWarps} * (KVN_LEAP_RESULT_WORDS + 2 * KVN_LEAP_WARP_ENTRIES));

struct LeapResult {
    Error error;
    bool walked;  // false: the serial walk is to walk the input
};

// Walks the src_len bytes of `src` into the walk buffers (prepared by the
// caller) on the decoder's stream in use, waiting on each phase.
LeapResult leapWalk(DecoderState& decoder, DeviceBufferHandle src, uint32_t src_len);

}  // namespace kvn
