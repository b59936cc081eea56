// The gather of a batch's stored off16 halves into the decoded-stream
// scratch, beside the Huffman decode: on the decoder's side stream where the
// device offers one (decodeSecondStreamForm), else in order on the batch's
// stream.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "pipeline/decode/decode_batch.h"

namespace kvn {

// Gathers over `slots` list entries, after everything queued on `stream` so
// far. On the side stream the gather stays pending until joinGather.
Error launchGatherRawOff16(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream, uint32_t slots,
                           uint64_t payload_len);

// Orders later work on `stream` (the LZ decode, which reads the gathered
// halves) after a pending gather; nothing when none is pending.
Error joinGather(DecoderState& decoder, StreamHandle stream);

// A run that failed: a pending gather is waited for, so that it writes no
// scratch the next run may have regrown.
void drainGather(DecoderState& decoder);

}  // namespace kvn
