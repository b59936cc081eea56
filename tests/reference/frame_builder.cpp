#include "frame_builder.h"

#include <algorithm>

#include "core/format/frame_builder.h"  // header bytes as the frame tests write them
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "core/integrity/merkle.h"
#include "core/integrity/xxh32.h"

namespace kvn::ref {
namespace {

void appendLe24(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 3; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> FrameBuilder::header(uint64_t content_len) const {
    const FrameOptions& o = options_;
    test::HeaderFields f;
    f.flags = 0;
    if (o.content_size) f.flags |= kFrameContentSize;
    if (o.checksum) f.flags |= kFrameChecksum;
    if (o.dict_id) f.flags |= kFrameDictId;
    if (o.merkle_root) f.flags |= kFrameMerkleRoot;
    if (o.chunk_table) f.flags |= kFrameChunkTable;
    if (!o.wrt_section.empty()) f.flags |= kFrameWrtSection;
    f.version = o.version;
    f.codec = o.codec;
    f.level_code = o.level_code;
    f.block_size_code = o.block_size_code;
    f.sc_group_size = o.sc_group_size;
    f.byte_plane_stride = o.byte_plane_stride;
    f.content_size = uint64_t(o.content_size_value.value_or(int64_t(content_len)));
    f.dict_id = o.dict_id.value_or(0);
    f.wrt_length = uint32_t(o.wrt_section.size());
    std::vector<uint8_t> out = test::frameHeaderBytes(f);
    out.insert(out.end(), o.wrt_section.begin(), o.wrt_section.end());
    return out;
}

FrameBuilder& FrameBuilder::codedBlock(const EncodedBlock& b) {
    block(uint32_t(b.payload.size()), uint32_t(b.raw_size), b.payload);
    table_.insert(table_.end(), b.record_sizes.begin(), b.record_sizes.end());
    return *this;
}

FrameBuilder& FrameBuilder::storedBlock(std::span<const uint8_t> raw) {
    return block(kBlockStored | uint32_t(raw.size()), uint32_t(raw.size()), raw);
}

FrameBuilder& FrameBuilder::skipBlock(std::span<const uint8_t> raw) {
    return block(kBlockSkip | uint32_t(raw.size()), uint32_t(raw.size()), raw);
}

FrameBuilder& FrameBuilder::block(uint32_t word, uint32_t raw_size, std::span<const uint8_t> payload) {
    block_offsets_.push_back(body_.size());
    test::appendLe32(body_, word);
    test::appendLe32(body_, raw_size);
    body_.insert(body_.end(), payload.begin(), payload.end());
    if (!(word & kBlockSkip)) counted_raw_ += raw_size;
    return *this;
}

FrameBuilder& FrameBuilder::bytes(std::span<const uint8_t> raw) {
    body_.insert(body_.end(), raw.begin(), raw.end());
    return *this;
}

std::vector<uint8_t> FrameBuilder::finish(std::span<const uint8_t> content, bool end_mark) const {
    std::vector<uint8_t> out = header(content.size());
    out.insert(out.end(), body_.begin(), body_.end());
    if (end_mark) test::appendLe32(out, 0);
    const uint64_t chunk = frameChunkSize(options_.sc_group_size);
    if (options_.chunk_table && chunk) {
        // One entry per chunk of the counted blocks, as the reader counts them.
        const uint64_t entries = chunkTableLength(counted_raw_, chunk) / kChunkTableEntrySize;
        for (uint64_t i = 0; i < entries; ++i) appendLe24(out, i < table_.size() ? table_[i] : 0);
    }
    if (options_.checksum) test::appendLe32(out, xxh32(content.data(), content.size()));
    if (options_.merkle_root)
        test::appendLe32(out, chunkMerkleRoot(content.data(), content.size(), std::max<uint64_t>(chunk, 1)).root);
    return out;
}

std::vector<uint8_t> compressFrame(std::span<const uint8_t> input, const EncodeOptions& enc,
                                   FrameOptions frame) {
    frame.sc_group_size = enc.sc_group_size;
    frame.level_code = enc.huffman ? std::max<uint8_t>(frame.level_code, 3) : frame.level_code;
    const bool coded = input.size() > 128;
    frame.chunk_table = frame.chunk_table && coded && frameChunkSize(enc.sc_group_size) >= 65536;
    FrameBuilder builder(frame);
    if (coded)
        builder.codedBlock(encodeBlock(input, enc));
    else if (!input.empty())
        builder.storedBlock(input);
    return builder.finish(input);
}

}  // namespace kvn::ref
