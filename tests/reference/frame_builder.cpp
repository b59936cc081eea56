#include "frame_builder.h"

#include <algorithm>
#include <cstring>

#include "ref_decoder.h"

namespace kvn::ref {
namespace {

template <typename T>
void appendLe(std::vector<uint8_t>& out, T v, int bytes = sizeof(T)) {
    const uint64_t u = uint64_t(v);
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(u >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> FrameBuilder::header() const {
    const FrameOptions& o = options_;
    uint8_t flags = 0;
    if (o.content_size) flags |= kFlagContentSize;
    if (o.checksum) flags |= kFlagChecksum;
    if (o.dict_id) flags |= kFlagDictId;
    if (o.merkle_root) flags |= kFlagMerkleRoot;
    if (o.chunk_table) flags |= kFlagChunkTable;
    std::vector<uint8_t> h = {0x31, 0x4E, 0x56, 0x4B, o.version, flags, o.codec, o.level_code,
                              o.block_size_code};
    uint32_t f;
    std::memcpy(&f, &o.sc_group_size, 4);
    appendLe(h, f);
    h.push_back(o.byte_plane_stride);
    if (o.content_size) appendLe(h, o.content_size_value.value_or(int64_t(content_len_hint_)));
    if (o.dict_id) appendLe(h, *o.dict_id);
    return h;
}

FrameBuilder& FrameBuilder::codedBlock(const EncodedBlock& b) {
    block(uint32_t(b.payload.size()), uint32_t(b.raw_size), b.payload);
    table_.insert(table_.end(), b.record_sizes.begin(), b.record_sizes.end());
    return *this;
}

FrameBuilder& FrameBuilder::storedBlock(std::span<const uint8_t> raw) {
    return block(kBlockStoredBit | uint32_t(raw.size()), uint32_t(raw.size()), raw);
}

FrameBuilder& FrameBuilder::skipBlock(std::span<const uint8_t> raw) {
    return block(kBlockSkipBit | uint32_t(raw.size()), uint32_t(raw.size()), raw);
}

FrameBuilder& FrameBuilder::block(uint32_t word, uint32_t raw_size, std::span<const uint8_t> payload) {
    block_offsets_.push_back(body_.size());
    appendLe(body_, word);
    appendLe(body_, raw_size);
    body_.insert(body_.end(), payload.begin(), payload.end());
    if (!(word & kBlockSkipBit)) counted_raw_ += raw_size;
    return *this;
}

FrameBuilder& FrameBuilder::bytes(std::span<const uint8_t> raw) {
    body_.insert(body_.end(), raw.begin(), raw.end());
    return *this;
}

std::vector<uint8_t> FrameBuilder::finish(std::span<const uint8_t> content, bool end_mark) const {
    FrameBuilder self = *this;
    self.content_len_hint_ = content.size();
    std::vector<uint8_t> out = self.header();
    out.insert(out.end(), body_.begin(), body_.end());
    if (end_mark) appendLe(out, uint32_t(0));
    const uint32_t chunk = chunkSizeFor(options_.sc_group_size);
    if (options_.chunk_table) {
        // One entry per chunk of the counted blocks, as the reader counts them.
        const uint64_t entries = chunk ? (counted_raw_ + chunk - 1) / chunk : 0;
        for (uint64_t i = 0; i < entries; ++i) appendLe(out, i < table_.size() ? table_[i] : 0u, 3);
    }
    if (options_.checksum) appendLe(out, referenceXxh32(content.data(), content.size()));
    if (options_.merkle_root)
        appendLe(out, referenceMerkleRoot(content.data(), content.size(), chunk));
    return out;
}

std::vector<uint8_t> compressFrame(std::span<const uint8_t> input, const EncodeOptions& enc,
                                   FrameOptions frame) {
    frame.sc_group_size = enc.sc_group_size;
    frame.level_code = enc.huffman ? std::max<uint8_t>(frame.level_code, 3) : frame.level_code;
    const bool coded = input.size() > 128;
    frame.chunk_table = frame.chunk_table && coded && chunkSizeFor(enc.sc_group_size) >= 65536;
    FrameBuilder builder(frame);
    if (coded)
        builder.codedBlock(encodeBlock(input, enc));
    else if (!input.empty())
        builder.storedBlock(input);
    return builder.finish(input);
}

}  // namespace kvn::ref
