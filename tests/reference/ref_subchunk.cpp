#include "ref_subchunk.h"

#include <algorithm>
#include <stdexcept>

#include "kernels/format_constants.h"
#include "ref_huffman.h"

namespace kvn::ref {
namespace {

void appendBe24(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
void appendLe16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void appendLe24(std::vector<uint8_t>& out, uint32_t v) {
    appendLe16(out, v);
    out.push_back(uint8_t(v >> 16));
}

void appendOff32Counts(std::vector<uint8_t>& out, uint32_t c1, uint32_t c2) {
    const uint32_t e = KVN_OFF32_COUNT_ESCAPE;
    appendLe24(out, std::min(c1, e) << KVN_OFF32_HALF_SHIFT | std::min(c2, e));
    if (c1 >= e) appendLe16(out, c1);
    if (c2 >= e) appendLe16(out, c2);
}

void appendOff32Block(std::vector<uint8_t>& out, const SubChunkStreams& s) {
    appendOff32Counts(out, uint32_t(s.off32_first.size()), uint32_t(s.off32_second.size()));
    for (uint32_t w : s.off32_first) appendOff32(out, w);
    for (uint32_t w : s.off32_second) appendOff32(out, w);
}

// The form the assembler picks for a stream of count symbols.
StreamForm chooseForm(StreamForm asked, bool huffman, const uint8_t* data, uint32_t count,
                      uint32_t stride, uint32_t min_count) {
    if (asked != StreamForm::Auto) return asked;
    if (!huffman || count < min_count) return StreamForm::Stored;
    const size_t coded = huffEncode(data, count, stride).size();
    return coded != 0 && coded + 5 < count + 3 ? StreamForm::Huffman : StreamForm::Stored;
}

size_t streamCost(const uint8_t* data, uint32_t count, uint32_t stride, StreamForm form) {
    std::vector<uint8_t> tmp;
    appendStream(tmp, data, count, stride, form);
    return tmp.size();
}

}  // namespace

void appendLength(std::vector<uint8_t>& lengths, uint32_t v) {
    if (v < KVN_LENGTH_ESCAPE) {
        lengths.push_back(uint8_t(v));
        return;
    }
    lengths.push_back(uint8_t(KVN_LENGTH_ESCAPE + (v & 3)));
    appendLe16(lengths, (v - KVN_LENGTH_ESCAPE) >> 2);
}

void appendOff32(std::vector<uint8_t>& out, uint32_t w) {
    if (w <= KVN_OFF32_SHORT_MAX) {
        appendLe24(out, w);
        return;
    }
    appendLe16(out, w);
    out.push_back(uint8_t(KVN_OFF32_LONG_MARK | ((w >> 16) & 0x3F)));
    out.push_back(uint8_t((w >> KVN_OFF32_LONG_SHIFT) - 3));
}

void appendStream(std::vector<uint8_t>& out, const uint8_t* data, uint32_t count,
                  uint32_t stride, StreamForm form) {
    std::vector<uint8_t> coded;
    switch (form) {
        case StreamForm::Auto:
        case StreamForm::Stored:
            appendBe24(out, count);
            break;
        case StreamForm::StoredShort:
            if (count > 0xFFF) throw std::invalid_argument("short stored stream too long");
            out.push_back(uint8_t(KVN_STREAM_SHORT_FORM | count >> 8));
            out.push_back(uint8_t(count));
            break;
        case StreamForm::Huffman: {
            if (count == 0) throw std::invalid_argument("empty Huffman stream");
            coded = huffEncode(data, count, stride);
            const uint64_t v = uint64_t(KVN_STREAM_HUFF_HDR0) << 32 | uint64_t(count - 1) << 18 |
                               coded.size();
            for (int i = 4; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
            out.insert(out.end(), coded.begin(), coded.end());
            return;
        }
        case StreamForm::HuffmanShort: {
            coded = huffEncode(data, count, stride);
            const uint32_t extra = count - uint32_t(coded.size()) - 1;
            if (count == 0 || coded.size() > 1023 || count < coded.size() + 1 || extra > 1023)
                throw std::invalid_argument("short Huffman header cannot hold this stream");
            out.push_back(uint8_t(KVN_STREAM_SHORT_FORM | KVN_STREAM_HUFFMAN << 4 | extra >> 6));
            out.push_back(uint8_t((extra & 63) << 2 | coded.size() >> 8));
            out.push_back(uint8_t(coded.size()));
            out.insert(out.end(), coded.begin(), coded.end());
            return;
        }
    }
    for (uint32_t i = 0; i < count; ++i) out.push_back(data[uint64_t(i) * stride]);
}

std::vector<uint8_t> lzOutput(const SubChunkStreams& s) {
    std::vector<uint8_t> out(s.raw8);
    appendBe24(out, uint32_t(s.literals.size()));
    out.insert(out.end(), s.literals.begin(), s.literals.end());
    appendBe24(out, uint32_t(s.tokens.size()));
    out.insert(out.end(), s.tokens.begin(), s.tokens.end());
    if (s.raw_len > KVN_HALF_SIZE) appendLe16(out, s.first_half_tokens);
    appendLe16(out, uint32_t(s.off16.size()));
    for (uint16_t d : s.off16) appendLe16(out, d);
    appendOff32Block(out, s);
    out.insert(out.end(), s.lengths.begin(), s.lengths.end());
    return out;
}

std::vector<uint8_t> encodeSubChunk(const SubChunkStreams& s, bool huffman) {
    std::vector<uint8_t> body(s.raw8);
    const uint32_t nl = uint32_t(s.literals.size()), nt = uint32_t(s.tokens.size());
    appendStream(body, s.literals.data(), nl, 1,
                 chooseForm(s.literal_form, huffman, s.literals.data(), nl, 1, 1));
    appendStream(body, s.tokens.data(), nt, 1,
                 chooseForm(s.token_form, huffman, s.tokens.data(), nt, 1, 1));
    if (s.raw_len > KVN_HALF_SIZE) appendLe16(body, s.first_half_tokens);

    const uint32_t n16 = uint32_t(s.off16.size());
    std::vector<uint8_t> entries;
    for (uint16_t d : s.off16) appendLe16(entries, d);
    const uint8_t* high = entries.data() + 1;
    const uint8_t* low = entries.data();
    bool split = s.off16_form == Off16Form::Split;
    StreamForm high_form = s.off16_high_form, low_form = s.off16_low_form;
    if (s.off16_form == Off16Form::Auto && huffman && n16 >= 32) {
        // A half is coded when that saves more than its extra header bytes.
        auto pick = [&](const uint8_t* half) {
            const size_t h = huffEncode(half, n16, 2).size();
            return h != 0 && h + 2 < n16 ? StreamForm::Huffman : StreamForm::Stored;
        };
        high_form = pick(high);
        low_form = pick(low);
        split = streamCost(high, n16, 2, high_form) + streamCost(low, n16, 2, low_form) < 2ull * n16;
    }
    if (split) {
        appendLe16(body, KVN_OFF16_SPLIT);
        appendStream(body, high, n16, 2, high_form == StreamForm::Auto ? StreamForm::Stored : high_form);
        appendStream(body, low, n16, 2, low_form == StreamForm::Auto ? StreamForm::Stored : low_form);
    } else {
        appendLe16(body, n16);
        body.insert(body.end(), entries.begin(), entries.end());
    }
    appendOff32Block(body, s);
    body.insert(body.end(), s.lengths.begin(), s.lengths.end());

    std::vector<uint8_t> out;
    appendBe24(out, KVN_SUBCHUNK_HDR_VALID | s.literal_mode << KVN_SUBCHUNK_LITMODE_SHIFT |
                        uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace kvn::ref
