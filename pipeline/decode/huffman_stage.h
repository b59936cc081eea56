// The Huffman stage of a decode batch at level 3 and up: the sub-chunk scan,
// the compaction of its stream lists, the gather of stored off16 halves, the
// merge of the Huffman lists, then the table build and the 4-stream decode
// into the decoded-stream scratch.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "pipeline/decode/decode_batch.h"

namespace kvn {

// Scans and compacts the batch's sub-chunks and merges the Huffman lists;
// *streams receives S = 4n when the decode kernel exists. KernelMissing when
// a stage kernel is not built (a batch at this level never falls back to the
// raw LZ kernel).
// With `gather` false the stored off16 halves are left for the caller to
// gather once the scratch they go to exists; else their gather may still be
// pending (off16_gather.h).
Error prepareHuffmanStage(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream,
                          uint64_t chunk_count, uint64_t payload_len, uint32_t subchunk_size, bool gather,
                          uint32_t* streams);

// Table build, barrier, decode, barrier; with the split timer, the two
// synchronised times on one line.
Error launchHuffDecode(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream, uint32_t streams,
                       bool split_timer);

// The tables of merged streams [first, first + count).
Error launchHuffTables(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream, uint32_t first,
                       uint32_t count);

// Where one launch of the 4-stream decode writes: the three areas' device
// addresses, and the scratch offset they stand for (dst_base: a stream's
// slot offset minus it is its place in the areas).
struct HuffStreamAreas {
    uint64_t literals;
    uint64_t tokens;
    uint64_t off16;
    uint32_t dst_base;
};

// Decodes merged streams [first, first + count) into `areas`. A non-zero
// dst_base needs the CUDA form (BadMode otherwise).
Error launchHuffStreams(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream, uint32_t first,
                        uint32_t count, const HuffStreamAreas& areas, const char* label);

Error mergeHuffDescs(DecoderState& decoder, StreamHandle stream);

}  // namespace kvn
