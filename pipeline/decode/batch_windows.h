// The windowed road of a level-3-and-up batch whose sub-chunks exceed its
// cap (batchWindowCap): the batch's chunks go in windows of at most `cap`
// sub-chunks, each window's streams decoded into one of two scratch halves
// and its chunks LZ-decoded from there, so the scratch holds two windows'
// streams however large the batch. The windows reach the scratch by address
// and their tables by aligned bindings, so that both device forms take them.
#pragma once

#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/lz_dispatch.h"

namespace kvn {

struct WindowedBatch {
    const DecodeBatch& batch;
    const BatchBuffers& buffers;
    const LzDispatch& lz;
    uint64_t cap;
    uint32_t streams;  // S: the merged Huffman list's bound
};

// The cap of a batch of `subchunks` host-numbered sub-chunks whose decoded
// streams take `region_bytes` in each of the scratch's three regions: none
// (the batch itself) for at most 256; else KVN_BATCH_CAP when set (decimal;
// unparsable or below 257 is 256), else what the device's memory holds
// (decodeBatchCap); and at most what one binding reaches when the whole
// batch's regions, which its road binds, would exceed it.
uint64_t batchWindowCap(uint64_t subchunks, uint64_t region_bytes);

// A window of consecutive chunks and their sub-chunk slots.
struct BatchWindow {
    uint32_t first_chunk;
    uint32_t n_chunks;
    uint32_t sub_start;
    uint32_t n_subs;
};

// How a batch's Huffman and LZ stages go: the descriptor counters as read
// back for the choice (all zero when there was none to make), and the
// windows (none: the batch runs whole).
struct WindowPlan {
    bool wanted = false;  // the batch exceeds its cap
    uint32_t counters[6] = {};  // the four Huffman lists, the stored off16 halves, the merged list
    std::vector<BatchWindow> windows;
};

// Reads the counters back and forms the windows when every coded sub-chunk
// has its four streams entropy-coded (so that list k's entry for slot s is
// merged entry k x slots + s) and its work items fit a window; nothing else
// is queued.
Error planWindows(DecoderState& decoder, const WindowedBatch& w, StreamHandle stream, WindowPlan* plan);

// Decodes the batch in the plan's windows.
Error decodeInWindows(DecoderState& decoder, const WindowedBatch& w, const WindowPlan& plan, StreamHandle stream);

}  // namespace kvn
