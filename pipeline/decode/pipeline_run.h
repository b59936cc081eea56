// The GPU decode of one batch: uploads, sub-chunk count, Huffman stage, LZ
// decode, the optional device Merkle pass and the copy back.
#pragma once

#include "core/errors.h"
#include "pipeline/decode/decode_batch.h"

namespace kvn {

// On return the decoded bytes are in place (own stream), or queued on the
// caller's stream (decoder.stream set before the call); decoder.stream keeps
// its value from before the call. The launches' timing pairs stay pending.
Error runDecodePipeline(DecoderState& decoder, const DecodeBatch& batch);

}  // namespace kvn
