// Decode batches for the sub-chunk and LZ kernel tests, built with the
// reference encoder, and what the reference decoder makes of them: the output
// and the decoded-stream scratch the Huffman stage would leave.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/format/chunk_records.h"
#include "reference/reference_codec.h"

namespace kvn::dectest {

struct Batch {
    std::string name;
    std::vector<uint8_t> payload;
    std::vector<KvnChunkDesc> descs;
    uint32_t chunks_per_item = 1;
    // No chunk reads another's output (the encoder keeps matches inside
    // their sub-chunk), so any number of chunks per work item decodes alike.
    bool independent_chunks = false;
    uint32_t out_len = 0;
    std::vector<uint8_t> dictionary;
    bool use_dictionary = false;
    size_t damaged_chunk = 0;  // damaged copies: the chunk whose bytes were changed
    bool huffman = false;  // some stream is Huffman-coded: only the general kernel with scratch decodes it
};

// One coded sub-chunk body as the reference parses it.
struct SubChunkView {
    uint32_t slot;  // batch index of the sub-chunk
    const uint8_t* body;
    uint32_t len;
    uint32_t raw;   // decoded size
    bool frame_first;
    bool coded;     // len < raw
};

// Calls visit for every sub-chunk the LZ kernels reach, with the walk rules
// of the reference decoder (chunk kinds flags & 3, header faults end a chunk).
void forEachSubChunk(const Batch& b, const std::function<void(const SubChunkView&)>& visit);

// Batch slot of every chunk's first sub-chunk (1 for stored, fill and empty chunks).
std::vector<uint32_t> subChunkStarts(const Batch& b);
uint32_t subChunkTotal(const Batch& b);
// The scratch slot starts the kernels read when every slot is full
// (131072 bytes): one per slot, then the region size.
std::vector<uint32_t> fullSlotStarts(const Batch& b);

// The three scratch areas (literals, tokens, off16 bytes), 131072 bytes per
// slot, as the Huffman stage and the off16 gather fill them.
struct Scratch {
    std::vector<uint8_t> literals, tokens, off16;
};
Scratch referenceScratch(const Batch& b);

// Whether any reached sub-chunk has a Huffman-coded or split off16 stream.
bool usesHuffmanStreams(const Batch& b);

// The reference decode of the batch into out_len bytes followed by `guard`
// bytes of guard_fill (the whole buffer starts as guard_fill).
std::vector<uint8_t> referenceOutput(const Batch& b, uint32_t guard, uint8_t guard_fill);

// A block of `input` encoded with the reference encoder, as a batch.
Batch encodedBatch(std::string name, const std::vector<uint8_t>& input, const ref::EncodeOptions& options);

// Batches with one chunk per listed sub-chunk group, written by the reference
// sub-chunk writer; each chunk follows a 64-byte stored chunk of history.
Batch handBatch(std::string name, const std::vector<std::vector<ref::SubChunkStreams>>& chunks, bool huffman,
                bool history = true);

// The fixture table: token forms, distances, copies in units, halves, off32, dictionary,
// delta literals, stream header forms, chunk kinds, real text at every level.
std::vector<Batch> fixtureBatches();

// Damaged copies of well-formed batches: bytes of coded sub-chunks changed.
// A damaged match may read another chunk's output, which the reference reads
// after decoding the chunks in order: one work item walks them all.
std::vector<Batch> damagedBatches();

}  // namespace kvn::dectest
