#include "core/wrt/wrt_format.h"

#include "core/format/byte_order.h"

namespace kvn {

Error writeWrtSection(uint64_t decoded_size, const WrtSelection& selection, const uint8_t* candidate_lengths,
                      const uint8_t* candidate_words, const WrtSegment* segments, uint32_t segment_count,
                      WrtSectionBlob* out) {
    auto word_at = [&](uint32_t i) {
        uint32_t c = selection.indices[i];
        return WrtWordBytes{candidate_words + size_t{c} * kWrtMaxWordLength, candidate_lengths[c]};
    };
    return writeWrtSectionWords(decoded_size, selection.word_count, selection.one_byte_count, word_at, segments,
                                segment_count, out);
}

Error parseSection(const uint8_t* section, size_t size, WrtDecodeState* state) {
    freeWrtDecodeState(state);
    if (size < 16) return Error::BadFrame;
    uint32_t word_count = loadLe32(section + 8);
    uint32_t one_byte_count = loadLe32(section + 12);
    if (word_count > kWrtMaxWords || one_byte_count > word_count) return Error::BadFrame;

    std::unique_ptr<uint32_t[]> offsets;
    std::unique_ptr<uint8_t[]> lengths;
    if (word_count > 0) {
        offsets.reset(new (std::nothrow) uint32_t[word_count]);
        lengths.reset(new (std::nothrow) uint8_t[word_count]);
        if (!offsets || !lengths) return Error::OutOfMemory;
    }
    size_t at = 16;
    for (uint32_t i = 0; i < word_count; ++i) {
        if (at >= size) return Error::BadFrame;
        uint8_t length = section[at];
        if (length < kWrtMinWordLength || length > kWrtMaxWordLength || size - at - 1 < length)
            return Error::BadFrame;
        offsets[i] = uint32_t(at + 1 - 16);
        lengths[i] = length;
        at += size_t{1} + length;
    }
    if (size - at < 4) return Error::BadFrame;
    uint32_t segment_count = loadLe32(section + at);
    if (segment_count > kWrtMaxSegments) return Error::BadFrame;
    if (size - at - 4 != size_t{4} * segment_count) return Error::BadFrame;

    state->decoded_size = loadLe64(section);
    state->word_count = word_count;
    state->one_byte_count = one_byte_count;
    state->word_offsets = std::move(offsets);
    state->word_lengths = std::move(lengths);
    state->words = section + 16;
    state->words_size = at - 16;
    state->segments = section + at + 4;
    state->segment_count = segment_count;
    return Error::None;
}

void freeWrtDecodeState(WrtDecodeState* state) { *state = WrtDecodeState{}; }

}  // namespace kvn
