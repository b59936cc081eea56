// KVN_ALLOC_TRACE's lines of a decode batch's Huffman and LZ stages, in a
// library that traces them (SlotTrace::AllocTrace): how each batch goes, and
// each window of a batch that goes in windows.
#pragma once

#include <cstdint>

#include "pipeline/decode/batch_windows.h"
#include "pipeline/decode/decode_batch.h"

namespace kvn {

// `streams`: S, the Huffman streams the batch's stages decode (0: none).
void traceDispatch(const DecoderState& decoder, const DecodeBatch& batch, const BatchBuffers& buffers,
                   const WindowPlan& plan, uint32_t streams);

// Window `index`, decoded in the scratch half at `half_offset` whose three
// regions are `stride` bytes each.
void traceWindow(uint32_t index, const BatchWindow& window, uint64_t half_offset, uint64_t stride);

}  // namespace kvn
