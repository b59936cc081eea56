// The word-replacement transform (WRT): its token bytes, segment records and
// the dictionary section a WRT frame carries in its header. Encoders and
// decoders on both processors follow this one definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "core/errors.h"
#include "core/format/size_math.h"
#include "kernels/format_constants.h"

namespace kvn {

// ---- tokens of the transformed stream ------------------------------------

inline constexpr uint8_t WRT_ESCAPE = KVN_WRT_ESCAPE;      // next byte is a literal, whatever its value
inline constexpr uint8_t WRT_CAPITALIZE = KVN_WRT_CAPITALIZE;  // next word code: first letter upper case
inline constexpr uint8_t WRT_UPPERCASE = KVN_WRT_UPPERCASE;   // next word code: every letter upper case
inline constexpr uint8_t kWrtCodeBase = KVN_WRT_CODE_BASE;      // one-byte codes 0x80..0xA7
inline constexpr uint8_t kWrtPairLeadBase = KVN_WRT_PAIR_LEAD_BASE;  // two-byte codes 0xA8..0xC7, then 0x80..0xFF

inline constexpr uint32_t WRT_SEGMENT_SIZE = KVN_WRT_SEGMENT_SIZE;
inline constexpr uint32_t kWrtMinWordLength = KVN_WRT_MIN_WORD_LENGTH;
inline constexpr uint32_t kWrtMaxWordLength = KVN_WRT_MAX_WORD_LENGTH;
inline constexpr uint32_t kWrtOneByteWords = KVN_WRT_ONE_BYTE_WORDS;
inline constexpr uint32_t kWrtTwoByteWords = 4096;
inline constexpr uint32_t kWrtMaxWords = kWrtOneByteWords + kWrtTwoByteWords;  // 4136
inline constexpr uint32_t kWrtMaxSegments = 0x4000000;
inline constexpr size_t kWrtSectionFixedBytes = 20;  // decoded_size, N, M and K

// ASCII letters only: digits, '_', '\'' and bytes >= 0x80 end a word.
inline bool isWrtLetter(uint8_t b) { return uint8_t((b & 0xDF) - 0x41) <= 25; }

// Bytes that cannot stand for themselves in the transformed stream.
inline bool wrtNeedsEscape(uint8_t b) {
    return b >= 0x80 || b == WRT_ESCAPE || b == WRT_CAPITALIZE || b == WRT_UPPERCASE;
}

// Start of segment k of an n-byte text: k x 4096, moved forward past the
// letter run it falls in, so that no word is split between segments.
inline size_t wrtSegmentStart(const uint8_t* text, size_t n, size_t k) {
    size_t at = k * WRT_SEGMENT_SIZE;
    if (at >= n) return n;
    while (at > 0 && at < n && isWrtLetter(text[at - 1]) && isWrtLetter(text[at])) ++at;
    return at;
}

inline uint64_t wrtSegmentCount(uint64_t n) { return ceilDiv(n, WRT_SEGMENT_SIZE); }

// ---- records -------------------------------------------------------------

// One segment's lengths, stored as two little-endian u16 in the section.
struct WrtSegment {
    uint16_t encoded_length = 0;  // bytes of transformed stream
    uint16_t decoded_length = 0;  // bytes of text
};
static_assert(sizeof(WrtSegment) == 4);

// A chosen dictionary: indices into the word source, in code order (the
// one-byte group of M words first, then the two-byte group).
struct WrtSelection {
    std::unique_ptr<uint32_t[]> indices;
    uint32_t word_count = 0;      // N
    uint32_t one_byte_count = 0;  // M
};

struct WrtSectionBlob {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;  // L
};

struct WrtWordBytes {
    const uint8_t* bytes;
    uint32_t length;
};

// Serialises a section: decoded_size, N, M, the N words (u8 length and its
// bytes) in code order, K and the K segment records. word_at(i) yields the
// word with code index i. Allocates exactly the section's length.
template <typename WordAt>
Error writeWrtSectionWords(uint64_t decoded_size, uint32_t word_count, uint32_t one_byte_count,
                           WordAt word_at, const WrtSegment* segments, uint32_t segment_count,
                           WrtSectionBlob* out) {
    size_t words_size = 0;
    for (uint32_t i = 0; i < word_count; ++i) words_size += size_t{1} + word_at(i).length;
    size_t size = kWrtSectionFixedBytes + words_size + size_t{4} * segment_count;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
    if (!bytes) return Error::OutOfMemory;

    // x86-64 is little-endian: the fields are stored as they lie in memory.
    uint8_t* at = bytes.get();
    std::memcpy(at, &decoded_size, 8);
    std::memcpy(at + 8, &word_count, 4);
    std::memcpy(at + 12, &one_byte_count, 4);
    at += 16;
    for (uint32_t i = 0; i < word_count; ++i) {
        WrtWordBytes word = word_at(i);
        *at++ = uint8_t(word.length);
        std::memcpy(at, word.bytes, word.length);
        at += word.length;
    }
    std::memcpy(at, &segment_count, 4);
    if (segment_count) std::memcpy(at + 4, segments, size_t{4} * segment_count);

    out->bytes = std::move(bytes);
    out->size = size;
    return Error::None;
}

// The section of the GPU encoder: words come from its candidate table
// (u8 lengths and 32-byte word slots), chosen by `selection`.
Error writeWrtSection(uint64_t decoded_size, const WrtSelection& selection, const uint8_t* candidate_lengths,
                      const uint8_t* candidate_words, const WrtSegment* segments, uint32_t segment_count,
                      WrtSectionBlob* out);

// ---- reading a section ---------------------------------------------------

// A parsed section. The tables are owned; everything else points into the
// section bytes, which must outlive the state.
struct WrtDecodeState {
    uint64_t decoded_size = 0;
    uint64_t word_count = 0;      // N
    uint64_t one_byte_count = 0;  // M
    std::unique_ptr<uint32_t[]> word_offsets;  // from the start of the word-entry area
    std::unique_ptr<uint8_t[]> word_lengths;
    const uint8_t* words = nullptr;  // word-entry area (section offset 16)
    size_t words_size = 0;           // W
    const uint8_t* segments = nullptr;  // K records of 4 bytes
    uint64_t segment_count = 0;         // K

    WrtSegment segment(uint64_t k) const {
        WrtSegment s;
        std::memcpy(&s, segments + 4 * k, 4);
        return s;
    }
};

// Checks the section's layout and builds the word tables. Every malformed
// section is `BadFrame`; only a failed allocation is `OutOfMemory`.
Error parseSection(const uint8_t* section, size_t size, WrtDecodeState* state);
void freeWrtDecodeState(WrtDecodeState* state);

}  // namespace kvn
