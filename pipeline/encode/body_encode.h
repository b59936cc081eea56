// The body of one compressed frame: the LZ stage over every sub-chunk, the
// assembly of the chunk records into the frame's one block, the chunk-size
// table and the copy of the frame to the host destination.
#pragma once

#include <cstdint>
#include <vector>

#include "core/encode/chunk_descriptors.h"
#include "core/encode/frame_header_writer.h"
#include "core/handle/encoder_state.h"
#include "pipeline/encode/huffman_stage.h"

namespace kvn {

struct BodyRequest {
    const uint8_t* src;  // the frame input (frame_source.h)
    uint64_t len;        // more than 128 bytes
    uint8_t* dst;        // the frame: its first header_len bytes hold the header
    uint64_t dst_cap;
    int32_t level;
    float sc_group_size;
    uint64_t header_len;
    bool chunk_table;  // the header announces the chunk-size table
};

// Writes the block, the end mark and the chunk-size table after the header;
// the size is the whole frame's so far (header included, no trailers).
WrittenBytes encodeBodyGpu(const BodyRequest& request, EncoderState& encoder);

// The LZ stage's results that the assembly reads.
struct LzStage {
    FrameGeometry geometry;
    std::vector<CompressChunkDesc> descs;
    std::vector<uint32_t> lz_sizes;
};

// Uploads the input, runs the LZ encode kernel over every sub-chunk and
// reads the LZ sizes back.
Error runLzStage(const BodyRequest& request, EncoderState& encoder, LzStage& stage);

// Measures and writes the sub-chunks (each stream coded where the Huffman
// stage coded it and that is smaller), lays out and assembles the frame on
// the device, appends the chunk-size table and copies the frame back.
WrittenBytes assembleBody(const BodyRequest& request, EncoderState& encoder, const LzStage& stage,
                          const HuffmanResults& huffman);

}  // namespace kvn
