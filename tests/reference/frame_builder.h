// Writer of test frames: well-formed frames as the GPU encoder lays them out,
// and the pieces to build malformed ones (any block header word, missing end
// mark, missing or wrong trailers, raw bytes anywhere).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ref_encoder.h"

namespace kvn::ref {

struct FrameOptions {
    uint8_t version = 2;
    uint8_t codec = 1;
    uint8_t level_code = 1;  // 3 and up: the chunks may carry Huffman streams
    uint8_t block_size_code = 2;
    uint8_t byte_plane_stride = 0;
    float sc_group_size = 0.25f;
    bool content_size = true;
    std::optional<int64_t> content_size_value;  // written instead of the content length
    std::optional<uint32_t> dict_id;
    bool checksum = false;
    bool merkle_root = false;
    bool chunk_table = false;
    // A WRT section: the body then holds the transformed text, whose length
    // goes in content_size_value, while the trailers cover the text itself.
    std::vector<uint8_t> wrt_section;
};

class FrameBuilder {
public:
    explicit FrameBuilder(const FrameOptions& options) : options_(options) {}

    // A compressed block; its chunk records feed the chunk-size table.
    FrameBuilder& codedBlock(const EncodedBlock& block);
    FrameBuilder& storedBlock(std::span<const uint8_t> bytes);
    FrameBuilder& skipBlock(std::span<const uint8_t> bytes);
    // Any block header followed by any payload.
    FrameBuilder& block(uint32_t word, uint32_t raw_size, std::span<const uint8_t> payload);
    FrameBuilder& bytes(std::span<const uint8_t> raw);

    // Header, blocks, end mark, chunk-size table, then the checksum and Merkle
    // root of content (the bytes the frame must decode to).
    std::vector<uint8_t> finish(std::span<const uint8_t> content, bool end_mark = true) const;

    // Offset of block i's 8-byte header in the finished frame.
    uint64_t blockOffset(size_t i) const { return header(0).size() + block_offsets_.at(i); }

private:
    std::vector<uint8_t> header(uint64_t content_len) const;

    FrameOptions options_;
    std::vector<uint8_t> body_;
    std::vector<uint64_t> block_offsets_;
    std::vector<uint32_t> table_;
    uint64_t counted_raw_ = 0;
};

// One frame in the form the GPU encoder writes: header and end mark for an
// empty input, one stored block up to 128 bytes, otherwise one compressed
// block, with the chunk-size table when asked and chunks are at least 64 KiB.
// frame.sc_group_size and frame.level_code are taken from enc.
std::vector<uint8_t> compressFrame(std::span<const uint8_t> input, const EncodeOptions& enc,
                                   FrameOptions frame);

}  // namespace kvn::ref
