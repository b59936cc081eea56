// The Huffman stage of a frame body at the entropy-coded levels: the literal,
// token and off16 streams of every sub-chunk's LZ output coded on the device,
// each kind into its own output buffer. A kind whose step fails (or is cut
// short on the device) is simply not coded: the assembly writes its streams
// raw and the frame still decodes.
#pragma once

#include <cstdint>
#include <vector>

#include "core/handle/encoder_state.h"

namespace kvn {

enum HuffStreamKind : uint32_t { kHuffLiteralStreams, kHuffTokenStreams, kHuffOff16Streams, kHuffStreamKinds };

// Per kind, the output offset and coded size of each job (0: not coded);
// empty when the kind is not coded at all. Literal and token jobs are one
// per sub-chunk; off16 jobs are the high-byte halves of every sub-chunk,
// then the low-byte halves.
struct HuffmanResults {
    std::vector<uint32_t> offsets[kHuffStreamKinds];
    std::vector<uint32_t> sizes[kHuffStreamKinds];
};

// Codes the streams of the LZ output that the LZ stage left on the device
// (its descriptors and sizes too) for `sub_chunks` sub-chunks.
void runHuffmanStage(EncoderState& encoder, uint64_t sub_chunks, HuffmanResults& results);

}  // namespace kvn
