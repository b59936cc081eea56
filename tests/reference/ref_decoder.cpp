#include "ref_decoder.h"

#include <algorithm>
#include <cstring>

#include "core/format/byte_order.h"
#include "core/format/chunk_walk.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "core/format/size_math.h"
#include "core/integrity/merkle.h"
#include "core/integrity/xxh32.h"
#include "kernels/format_constants.h"
#include "ref_huffman.h"

namespace kvn::ref {
namespace {

// Bounded reader: bytes past the end read as 0 and the position never
// passes the end.
struct Reader {
    const uint8_t* p;
    uint64_t end;
    uint64_t pos = 0;

    uint32_t at(uint64_t off) const { return pos + off < end ? p[pos + off] : 0; }
    uint64_t left() const { return end - pos; }
    void skip(uint64_t n) { pos += std::min(n, left()); }
    uint32_t u16() {
        uint32_t v = at(0) | at(1) << 8;
        skip(2);
        return v;
    }
    uint32_t u24le() {
        uint32_t v = at(0) | at(1) << 8 | at(2) << 16;
        skip(3);
        return v;
    }
};

// Reads one stream header and its data, yielding at most max_symbols symbols.
std::vector<uint8_t> readStream(Reader& r, uint32_t max_symbols, uint32_t* huffman_streams) {
    const uint32_t b0 = r.at(0), b1 = r.at(1), b2 = r.at(2);
    const bool short_form = b0 & KVN_STREAM_SHORT_FORM;
    const uint32_t type = b0 >> KVN_STREAM_TYPE_SHIFT & KVN_STREAM_TYPE_MASK;
    std::vector<uint8_t> symbols;
    if (type == KVN_STREAM_STORED) {
        const uint32_t len = short_form ? (b0 & 0x0F) << 8 | b1 : (b0 & 0x0F) << 16 | b1 << 8 | b2;
        r.skip(short_form ? KVN_STREAM_STORED_SHORT_HDR_BYTES : KVN_STREAM_STORED_HDR_BYTES);
        const uint64_t n = std::min<uint64_t>({len, r.left(), max_symbols});
        symbols.assign(r.p + r.pos, r.p + r.pos + n);
        r.skip(len);
        return symbols;
    }
    // Huffman, and any unknown type, step over by the Huffman header rule.
    uint32_t coded, count;
    if (short_form) {
        coded = (b1 & 3) << 8 | b2;
        count = coded + ((b0 & 0x0F) << 6 | b1 >> 2) + 1;
        r.skip(KVN_STREAM_HUFF_SHORT_HDR_BYTES);
    } else {
        coded = (b2 & 3) << 16 | r.at(3) << 8 | r.at(4);
        count = ((b0 & 0x0F) << 14 | b1 << 6 | b2 >> 2) + 1;
        r.skip(KVN_STREAM_HUFF_HDR_BYTES);
    }
    if (type == KVN_STREAM_HUFFMAN) {
        ++*huffman_streams;
        symbols.assign(std::min(count, max_symbols), 0);
        huffDecode(r.p + r.pos, uint32_t(std::min<uint64_t>(coded, r.left())),
                   uint32_t(symbols.size()), symbols.data());
    }
    r.skip(coded);
    return symbols;
}

void readOff32(Reader& r, uint32_t count, std::vector<uint32_t>& out) {
    for (uint32_t i = 0; i < count; ++i) {
        if (r.left() < KVN_OFF32_ENTRY_BYTES) return;
        uint32_t w = r.at(0) | r.at(1) << 8 | r.at(2) << 16;
        if (r.at(2) >= KVN_OFF32_LONG_MARK) {
            if (r.left() < 4) return;
            w += r.at(3) << KVN_OFF32_LONG_SHIFT;
            r.skip(1);
        }
        r.skip(3);
        out.push_back(w);
    }
}

class SequenceDecoder {
public:
    SequenceDecoder(const ParsedSubChunk& s, uint32_t literal_mode, std::span<uint8_t> out,
                    uint64_t end, Dictionary dict)
        : s_(s), delta_(literal_mode == KVN_LITMODE_DELTA), out_(out), end_(end), dict_(dict) {}

    void run(uint64_t base, uint32_t raw_len) {
        base_ = base;
        p_ = base + s_.prefix_len;
        const uint32_t ntok = uint32_t(s_.tokens.size());
        uint32_t first_end = ntok;
        if (raw_len > KVN_HALF_SIZE && s_.token_split != 0 && s_.token_split < ntok)
            first_end = s_.token_split;
        uint64_t half_base = base;
        tokens(0, first_end, half_base, s_.off32_first);
        if (raw_len > KVN_HALF_SIZE) {
            const uint64_t half_end = std::max(std::min(base + KVN_HALF_SIZE, end_), p_);
            fillLiterals(half_end);
            half_base = half_end;
            tokens(first_end, ntok, half_base, s_.off32_second);
        }
        fillLiterals(end_);
    }

private:
    void literal(uint64_t pos) {
        if (pos < end_ && lit_ < s_.literals.size()) {
            uint8_t b = s_.literals[lit_];
            if (delta_) b += rep_ > 0 && uint64_t(rep_) <= pos ? out_[pos - rep_] : 0;
            out_[pos] = b;
        }
        ++lit_;
    }

    void fillLiterals(uint64_t to) {
        for (; p_ < to; ++p_) literal(p_);
    }

    uint32_t readLength() {
        const auto& l = s_.lengths;
        if (len_ >= l.size()) return 0;
        const uint32_t b = l[len_];
        if (b >= KVN_LENGTH_ESCAPE && len_ + 2 < l.size()) {
            const uint32_t v = b + 4 * (l[len_ + 1] | l[len_ + 2] << 8);
            len_ += 3;
            return v;
        }
        len_ += 1;
        return b;
    }

    int64_t nextOff16() {
        if (o16_ >= s_.off16.size()) return rep_;
        return rep_ = s_.off16[o16_++];
    }

    // The source is half_base - w, which a damaged stream may put at or
    // after p: distances stay signed and such matches are skipped.
    int64_t nextOff32(uint64_t half_base, const std::vector<uint32_t>& off32, uint32_t& cursor) {
        if (cursor >= off32.size()) return rep_;
        return rep_ = int64_t(p_) - (int64_t(half_base) - int64_t(off32[cursor++]));
    }

    void match(uint64_t len, int64_t dist) {
        const int64_t src = int64_t(p_) - dist;
        if (dist <= 0 || (!dict_.data && src < 0)) return;
        for (uint64_t i = 0; i < len && p_ + i < end_; ++i) {
            const int64_t q = src + int64_t(i);
            uint8_t b;
            if (dict_.data && q < int64_t(base_)) {
                const uint64_t back = uint64_t(int64_t(base_) - q);
                b = back <= dict_.len ? dict_.data[dict_.len - back] : 0;
            } else {
                b = out_[q];
            }
            out_[p_ + i] = b;
        }
    }

    void tokens(uint32_t from, uint32_t to, uint64_t half_base, const std::vector<uint32_t>& off32) {
        uint32_t o32 = 0;
        for (uint32_t i = from; i < to; ++i) {
            const uint32_t t = s_.tokens[i];
            uint64_t lits = 0, len = 0;
            int64_t dist = rep_;
            if (t >= KVN_TOKEN_REPEAT) {
                lits = t & KVN_TOKEN_LIT_MASK;
                len = t >> KVN_TOKEN_MATCH_SHIFT & KVN_TOKEN_MATCH_MASK;
            } else if (t >= KVN_TOKEN_SHORT_MIN) {
                lits = t & KVN_TOKEN_LIT_MASK;
                len = t >> KVN_TOKEN_MATCH_SHIFT;
                dist = nextOff16();
            } else if (t == KVN_TOKEN_LONG_LITERALS) {
                lits = readLength() + KVN_LONG_LITERALS_BASE;
            } else if (t == KVN_TOKEN_LONG_MATCH16) {
                len = readLength() + KVN_LONG_MATCH16_BASE;
                dist = nextOff16();
            } else {
                len = t == KVN_TOKEN_LONG_MATCH32 ? readLength() + KVN_LONG_MATCH32_BASE
                                                  : t + KVN_TOKEN_FAR_BIAS;
                dist = nextOff32(half_base, off32, o32);
            }
            for (uint64_t k = 0; k < lits; ++k) literal(p_ + k);
            p_ += lits;
            match(len, dist);
            p_ += len;
        }
    }

    const ParsedSubChunk& s_;
    const bool delta_;
    std::span<uint8_t> out_;
    const uint64_t end_;
    const Dictionary dict_;
    uint64_t base_ = 0;
    uint64_t p_ = 0;
    int64_t rep_ = KVN_INITIAL_REPEAT_DISTANCE;
    uint64_t lit_ = 0, len_ = 0, o16_ = 0;
};

void decodeCodedChunk(std::span<const uint8_t> chunk, uint64_t decoded, uint64_t dst,
                      bool frame_first, uint32_t subchunk_size, std::span<uint8_t> out,
                      Dictionary dict) {
    const uint64_t s_max = subchunk_size ? subchunk_size : KVN_SUBCHUNK_SIZE_DEFAULT;
    Reader r{chunk.data(), chunk.size()};
    uint64_t base = dst;
    for (uint64_t left = decoded, j = 0; left > 0; ++j) {
        if (r.left() < KVN_SUBCHUNK_HDR_BYTES) return;
        const uint32_t hdr = r.at(0) << 16 | r.at(1) << 8 | r.at(2);
        r.skip(KVN_SUBCHUNK_HDR_BYTES);
        const uint32_t mode = hdr >> KVN_SUBCHUNK_LITMODE_SHIFT & KVN_SUBCHUNK_LITMODE_MASK;
        const uint32_t len = hdr & KVN_SUBCHUNK_LEN_MASK;
        // Invalid header, undefined literal mode or overlong body: the rest
        // of the chunk stays unwritten.
        if (!(hdr & KVN_SUBCHUNK_HDR_VALID) || mode > KVN_LITMODE_PLAIN || len > r.left()) return;
        const uint32_t raw = uint32_t(std::min(left, s_max));
        const uint8_t* body = r.p + r.pos;
        if (len >= raw) {
            std::memcpy(out.data() + base, body, raw);
        } else {
            const bool first = frame_first && j == 0;
            const ParsedSubChunk parsed = parseSubChunk(body, len, raw, first);
            if (first) std::memcpy(out.data() + base, body, std::min({KVN_FRAME_PREFIX_BYTES, raw, len}));
            decodeSequence(parsed, mode, raw, out, base, dict);
        }
        r.skip(len);
        base += raw;
        left -= raw;
    }
}

}  // namespace

ParsedSubChunk parseSubChunk(const uint8_t* body, uint32_t body_len, uint32_t raw_len,
                             bool frame_first) {
    ParsedSubChunk s;
    Reader r{body, body_len};
    if (frame_first) {
        s.prefix_len = KVN_FRAME_PREFIX_BYTES;
        r.skip(KVN_FRAME_PREFIX_BYTES);
    }
    s.literals = readStream(r, KVN_STREAM_MAX_SYMBOLS, &s.huffman_streams);
    s.tokens = readStream(r, KVN_STREAM_MAX_SYMBOLS, &s.huffman_streams);
    if (raw_len > KVN_HALF_SIZE) s.token_split = r.u16();
    const uint32_t count = r.u16();
    if (count == KVN_OFF16_SPLIT) {
        s.off16_split = true;
        const auto high = readStream(r, KVN_OFF16_MAX_ENTRIES, &s.huffman_streams);
        const auto low = readStream(r, KVN_OFF16_MAX_ENTRIES, &s.huffman_streams);
        for (size_t k = 0; k < std::min(high.size(), low.size()); ++k)
            s.off16.push_back(uint16_t(low[k] | high[k] << 8));
    } else {
        for (uint32_t k = 0; k < count && r.left() >= 2; ++k) s.off16.push_back(uint16_t(r.u16()));
    }
    const uint32_t v = r.u24le();
    uint32_t c1 = v >> KVN_OFF32_HALF_SHIFT, c2 = v & KVN_OFF32_HALF_MASK;
    if (c1 == KVN_OFF32_COUNT_ESCAPE) c1 = r.u16();
    if (c2 == KVN_OFF32_COUNT_ESCAPE) c2 = r.u16();
    readOff32(r, c1, s.off32_first);
    readOff32(r, c2, s.off32_second);
    s.lengths.assign(r.p + r.pos, r.p + r.end);
    return s;
}

void decodeSequence(const ParsedSubChunk& streams, uint32_t literal_mode, uint32_t raw_len,
                    std::span<uint8_t> out, uint64_t base, Dictionary dict) {
    const uint64_t end = std::min<uint64_t>(base + raw_len, out.size());
    SequenceDecoder(streams, literal_mode, out, end, dict).run(base, raw_len);
}

void decodeChunks(std::span<const uint8_t> payload, std::span<const KvnChunkDesc> descs,
                  uint32_t subchunk_size, std::span<uint8_t> out,
                  Dictionary dict) {
    for (size_t i = 0; i < descs.size(); ++i) {
        const KvnChunkDesc& d = descs[i];
        if (d.dst_off >= out.size()) continue;
        const uint64_t decoded = std::min<uint64_t>(d.decomp_size, out.size() - d.dst_off);
        uint8_t* dst = out.data() + d.dst_off;
        switch (d.flags & KVN_CHUNK_KIND_MASK) {
            case KVN_CHUNK_KIND_STORED:
                if (d.src_off < payload.size())
                    std::memcpy(dst, payload.data() + d.src_off,
                                std::min<uint64_t>(decoded, payload.size() - d.src_off));
                break;
            case KVN_CHUNK_KIND_FILL:
                std::memset(dst, d.fill_byte, decoded);
                break;
            case KVN_CHUNK_KIND_CODED: {
                if (d.src_off >= payload.size()) break;
                const auto chunk = payload.subspan(
                    d.src_off, std::min<uint64_t>(d.comp_size, payload.size() - d.src_off));
                const bool frame_first = (d.flags & KVN_CHUNK_FLAG_FRAME_FIRST) || d.dst_off == 0;
                decodeCodedChunk(chunk, decoded, d.dst_off, frame_first, subchunk_size, out, dict);
                break;
            }
            default:
                break;
        }
    }
}

Error decodeBlock(std::span<const uint8_t> payload, uint64_t raw_size, uint32_t chunk_size,
                  float sc_group_size, std::span<uint8_t> out, uint64_t out_off, Dictionary dict) {
    std::vector<KvnChunkDesc> descs(std::min<uint64_t>(ceilDiv(raw_size, chunk_size),
                                                       KVN_MAX_CHUNKS_PER_BLOCK));
    ChunkWalk walk;
    if (Error e = walkChunks(payload, raw_size, chunk_size, sc_group_size, out_off, descs, &walk);
        e != Error::None)
        return e;
    decodeChunks(payload, std::span(descs).first(walk.chunk_count),
                 KVN_SUBCHUNK_SIZE, out, dict);
    applyChunkPrefixes(payload, walk, raw_size, chunk_size, out.data() + out_off);
    return Error::None;
}

DecodedFrame decodeFrame(std::span<const uint8_t> frame, Dictionary dict) {
    DecodedFrame result;
    auto fail = [&](Error e) {
        result.error = e;
        result.bytes.clear();
        return result;
    };
    const uint8_t* f = frame.data();
    const uint64_t n = frame.size();
    const FrameHeader header = parseFrameHeader(f, n);
    if (header.error != Error::None) return fail(header.error);
    const uint64_t chunk = frameChunkSize(header.sc_group_size);

    std::vector<uint8_t>& out = result.bytes;
    uint64_t pos = header.header_length;
    while (n - pos >= kEndMarkSize) {
        if (loadLe32(f + pos) == 0) {
            pos += kEndMarkSize;
            break;
        }
        if (n - pos < kBlockHeaderSize) return fail(Error::InvalidBlockHeader);
        const BlockHeader block = readBlockHeader(f + pos);
        pos += kBlockHeaderSize;
        if (endsFrame(block)) break;
        if (n - pos < block.payload_length) return fail(Error::BlockDataTruncated);
        const std::span<const uint8_t> payload(f + pos, block.payload_length);
        pos += block.payload_length;
        if (block.skip) continue;
        const uint64_t at = out.size();
        if (block.stored) {
            if (block.payload_length < block.raw_size) return fail(Error::BlockDataTruncated);
            out.insert(out.end(), payload.begin(), payload.begin() + block.raw_size);
            continue;
        }
        out.resize(at + block.raw_size);
        if (Error e = decodeBlock(payload, block.raw_size, uint32_t(chunk), header.sc_group_size, out,
                                  at, dict);
            e != Error::None)
            return fail(e);
    }
    if (header.has_content_size && header.content_size != out.size()) return fail(Error::SizeMismatch);
    if (header.has_chunk_table) pos += chunkTableLength(out.size(), chunk);
    if (header.has_checksum) {
        if (n < pos + kTrailerSize) return fail(Error::Truncated);
        if (loadLe32(f + pos) != xxh32(out.data(), out.size())) return fail(Error::ChecksumMismatch);
        pos += kTrailerSize;
    }
    if (header.has_merkle_root) {
        if (n < pos + kTrailerSize) return fail(Error::Truncated);
        if (loadLe32(f + pos) != chunkMerkleRoot(out.data(), out.size(), chunk).root)
            return fail(Error::ChecksumMismatch);
        pos += kTrailerSize;
    }
    result.frame_len = pos;
    return result;
}

}  // namespace kvn::ref
