// Reference decoder of chunk records, sub-chunks, LZ sequences and Huffman
// streams: a plain sequential CPU decoder to hold decode kernels against.
// It follows the kernels' rules for damaged input too (clamping, skipping),
// so its output is the expected output byte for byte, valid or not.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/errors.h"
#include "core/format/chunk_records.h"

namespace kvn::ref {

struct Dictionary {
    const uint8_t* data = nullptr;
    uint32_t len = 0;
};

// The streams of one sub-chunk as the LZ decode sees them, Huffman streams
// already decoded (what the decoded-stream scratch holds).
struct ParsedSubChunk {
    uint32_t prefix_len = 0;  // 8 when the frame's raw bytes were consumed
    std::vector<uint8_t> literals, tokens;
    uint32_t token_split = 0;
    bool off16_split = false;
    std::vector<uint16_t> off16;
    std::vector<uint32_t> off32_first, off32_second;
    std::vector<uint8_t> lengths;
    uint32_t huffman_streams = 0;  // how many of the streams were Huffman-coded
};

// Locates and decodes the streams of a sub-chunk body of body_len bytes
// (after its 3-byte header) that decodes to raw_len bytes (< body_len means
// coded). frame_first: the body opens with the frame's 8 raw bytes.
ParsedSubChunk parseSubChunk(const uint8_t* body, uint32_t body_len, uint32_t raw_len,
                             bool frame_first);

// Runs the LZ sequence of a parsed sub-chunk into out at base (raw_len bytes).
// The 8 raw bytes of a frame-first sub-chunk are not copied here. With a
// dictionary, sources before base read the dictionary.
void decodeSequence(const ParsedSubChunk& streams, uint32_t literal_mode, uint32_t raw_len,
                    std::span<uint8_t> out, uint64_t base, Dictionary dict);

// Decodes every chunk of descs (payload offsets into payload) into out, the
// frame's output buffer.
void decodeChunks(std::span<const uint8_t> payload, std::span<const KvnChunkDesc> descs,
                  uint32_t subchunk_size, std::span<uint8_t> out, Dictionary dict);

// Walks, decodes and patches one compressed block into out at out_off.
Error decodeBlock(std::span<const uint8_t> payload, uint64_t raw_size, uint32_t chunk_size,
                  float sc_group_size, std::span<uint8_t> out, uint64_t out_off, Dictionary dict);

struct DecodedFrame {
    Error error = Error::None;
    std::vector<uint8_t> bytes;
    uint64_t frame_len = 0;  // bytes of the frame, trailers included
};

// Decodes one whole frame (no WRT section, no byte-plane inverse) and checks
// its content size, checksum and Merkle root.
DecodedFrame decodeFrame(std::span<const uint8_t> frame, Dictionary dict);

}  // namespace kvn::ref
