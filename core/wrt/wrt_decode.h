// The WRT decoder on the CPU: turns a frame's transformed stream back into
// its text, checking every token, over up to 16 threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/errors.h"
#include "core/wrt/wrt_format.h"

namespace kvn {

// Decodes `input` (the frame's transformed stream) into `output` with the
// parsed section `state`. The segment lengths must add up to the input size
// and to both the output size and decoded_size. Any fault is `Corrupt`, and
// then `output` has not been written. `threads` is capped at 16.
Error wrtDecodeCpu(const WrtDecodeState& state, const uint8_t* input, size_t input_size, uint8_t* output,
                   size_t output_size, uint32_t threads);

}  // namespace kvn
