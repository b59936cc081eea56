// Builds frames byte by byte for the format and integrity tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/format/frame_header.h"

namespace kvn::test {

using Bytes = std::vector<uint8_t>;

inline void appendLe32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void appendLe64(Bytes& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The header fields; defaults are those of a level-1 frame with default options.
struct HeaderFields {
    uint8_t flags = kFrameContentSize;
    uint8_t version = kFrameVersion;
    uint8_t codec = 1;
    uint8_t level_code = 1;
    uint8_t block_size_code = 2;
    float sc_group_size = 0.25f;
    uint8_t byte_plane_stride = 0;
    uint64_t content_size = 0;
    uint32_t dict_id = 0;
    uint32_t wrt_length = 16;  // the length field only: append section bytes yourself
};

inline Bytes frameHeaderBytes(const HeaderFields& f) {
    Bytes out;
    appendLe32(out, kFrameMagic);
    out.insert(out.end(), {f.version, f.flags, f.codec, f.level_code, f.block_size_code});
    uint32_t sc_bits;
    std::memcpy(&sc_bits, &f.sc_group_size, 4);
    appendLe32(out, sc_bits);
    out.push_back(f.byte_plane_stride);
    if (f.flags & kFrameContentSize) appendLe64(out, f.content_size);
    if (f.flags & kFrameDictId) appendLe32(out, f.dict_id);
    if (f.flags & kFrameWrtSection) appendLe32(out, f.wrt_length);
    return out;
}

inline void appendBlock(Bytes& out, uint32_t word, uint32_t raw_size, const Bytes& payload) {
    appendLe32(out, word);
    appendLe32(out, raw_size);
    out.insert(out.end(), payload.begin(), payload.end());
}

// Header + one stored block holding content + end mark, without trailers.
inline Bytes storedFrameBody(const Bytes& content, uint8_t flags, float sc_group_size = 0.25f) {
    HeaderFields fields;
    fields.flags = flags;
    fields.content_size = content.size();
    fields.sc_group_size = sc_group_size;
    Bytes frame = frameHeaderBytes(fields);
    if (!content.empty()) appendBlock(frame, kBlockStored | uint32_t(content.size()), uint32_t(content.size()), content);
    appendLe32(frame, 0);
    return frame;
}

}  // namespace kvn::test
