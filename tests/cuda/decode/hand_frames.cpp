#include "tests/cuda/decode/hand_frames.h"

#include "kernels/format_constants.h"
#include "tests/reference/frame_builder.h"
#include "tests/reference/ref_subchunk.h"

namespace kvn::test {
namespace {

// Literal tokens for n literals (n at least 64).
void longLiterals(ref::SubChunkStreams& s, uint32_t n) {
    s.tokens.push_back(KVN_TOKEN_LONG_LITERALS);
    ref::appendLength(s.lengths, n - KVN_LONG_LITERALS_BASE);
}

void appendRecord(ref::EncodedBlock& block, const Bytes& body) {
    const uint32_t size_field = uint32_t(body.size()) - 1;
    const Bytes record = {KVN_CHUNK_HDR0_CODED_WRITTEN, KVN_CHUNK_HDR1_WRITTEN, uint8_t(size_field),
                          uint8_t(size_field >> 8), uint8_t(size_field >> 16), 0};
    block.payload.insert(block.payload.end(), record.begin(), record.end());
    block.payload.insert(block.payload.end(), body.begin(), body.end());
    block.record_sizes.push_back(uint32_t(record.size() + body.size()));
}

// The records, then the chunk-prefix area, in a level-3 frame without trailers.
Bytes finishFrame(ref::EncodedBlock& block, const Bytes& prefixes, uint32_t chunk_size) {
    block.payload.insert(block.payload.end(), prefixes.begin(), prefixes.end());
    ref::FrameOptions o;
    o.level_code = 3;
    o.sc_group_size = float(chunk_size) / 262144;
    o.content_size_value = int64_t(block.raw_size);
    return ref::FrameBuilder(o).codedBlock(block).finish({});
}

// Chunks of literals and one match, the off16 halves in `halves` form.
Bytes matchChunksFrame(uint32_t chunks, uint32_t seed, ref::StreamForm halves) {
    constexpr uint32_t kMatch = 20;  // 15 behind the new distance, 5 more at the repeat
    ref::EncodedBlock block;
    block.raw_size = uint64_t(chunks) * kHuffmanChunk;
    uint32_t x = seed * 2654435761u + 1;
    // The chunk-prefix area that follows the records: the first bytes of
    // every chunk but the first (its first literals).
    Bytes prefixes;
    for (uint32_t c = 0; c < chunks; ++c) {
        ref::SubChunkStreams s;
        s.raw_len = kHuffmanChunk;
        const uint32_t raw8 = c == 0 ? 8 : 0;
        for (uint32_t i = 0; i < raw8; ++i) s.raw8.push_back(uint8_t('a' + i));
        const uint32_t literals = kHuffmanChunk - raw8 - kMatch;
        for (uint32_t i = 0; i < literals; ++i) {
            x = x * 1664525u + 1013904223u;
            s.literals.push_back(uint8_t("etaoinsr"[x >> 29]));
        }
        if (c > 0) prefixes.insert(prefixes.end(), s.literals.begin(), s.literals.begin() + KVN_CHUNK_PREFIX_BYTES);
        longLiterals(s, literals / 2);
        s.tokens.push_back(0x78);  // no literal, a 15-byte match at a new distance
        s.tokens.push_back(0xA8);  // no literal, a 5-byte match at the same distance
        s.off16 = {33};
        longLiterals(s, literals - literals / 2);
        s.literal_form = ref::StreamForm::Huffman;
        s.token_form = ref::StreamForm::Huffman;
        s.off16_form = ref::Off16Form::Split;
        s.off16_high_form = halves;
        s.off16_low_form = halves;
        appendRecord(block, ref::encodeSubChunk(s, true));
    }
    return finishFrame(block, prefixes, kHuffmanChunk);
}

}  // namespace

Bytes fourHuffmanStreamsFrame(uint32_t chunks, uint32_t seed) {
    return matchChunksFrame(chunks, seed, ref::StreamForm::Huffman);
}

Bytes storedOffsetHalvesFrame(uint32_t chunks, uint32_t seed) {
    return matchChunksFrame(chunks, seed, ref::StreamForm::Stored);
}

Bytes literalChunksFrame(uint32_t chunks, uint32_t chunk_size) {
    ref::EncodedBlock block;
    block.raw_size = uint64_t(chunks) * chunk_size;
    Bytes prefixes;
    for (uint32_t c = 0; c < chunks; ++c) {
        ref::SubChunkStreams s;
        s.raw_len = chunk_size;
        const uint32_t raw8 = c == 0 ? 8 : 0;
        for (uint32_t i = 0; i < raw8; ++i) s.raw8.push_back(uint8_t('A' + i));
        for (uint32_t i = raw8; i < chunk_size; ++i) s.literals.push_back(uint8_t('a' + (c + i) % 26));
        for (uint32_t left = chunk_size - raw8; left > 0;) {
            const uint32_t k = left < KVN_TOKEN_LIT_MASK ? left : KVN_TOKEN_LIT_MASK;
            s.tokens.push_back(uint8_t(KVN_TOKEN_REPEAT | k));
            left -= k;
        }
        if (c > 0) prefixes.insert(prefixes.end(), s.literals.begin(), s.literals.begin() + KVN_CHUNK_PREFIX_BYTES);
        appendRecord(block, ref::encodeSubChunk(s, false));
    }
    return finishFrame(block, prefixes, chunk_size);
}

}  // namespace kvn::test
