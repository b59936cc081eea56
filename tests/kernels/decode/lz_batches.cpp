#include "lz_batches.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "core/format/chunk_walk.h"
#include "kernels/format_constants.h"
#include "tests/core/integrity/sample_data.h"

namespace kvn::dectest {

using ref::SubChunkStreams;

void forEachSubChunk(const Batch& b, const std::function<void(const SubChunkView&)>& visit) {
    const std::vector<uint32_t> starts = subChunkStarts(b);
    for (size_t i = 0; i < b.descs.size(); ++i) {
        const KvnChunkDesc& d = b.descs[i];
        if ((d.flags & KVN_CHUNK_KIND_MASK) != KVN_CHUNK_KIND_CODED || d.dst_off >= b.out_len ||
            d.src_off >= b.payload.size())
            continue;
        const uint8_t* p = b.payload.data() + d.src_off;
        uint64_t avail = std::min<uint64_t>(d.comp_size, b.payload.size() - d.src_off);
        uint64_t left = std::min<uint64_t>(d.decomp_size, b.out_len - d.dst_off);
        bool first = (d.flags & KVN_CHUNK_FLAG_FRAME_FIRST) || d.dst_off == 0;
        for (uint32_t slot = starts[i]; left > 0 && avail >= 3; ++slot) {
            const uint32_t hdr = p[0] << 16 | p[1] << 8 | p[2];
            const uint32_t len = hdr & KVN_SUBCHUNK_LEN_MASK;
            const uint32_t mode = hdr >> KVN_SUBCHUNK_LITMODE_SHIFT & KVN_SUBCHUNK_LITMODE_MASK;
            if (!(hdr & KVN_SUBCHUNK_HDR_VALID) || mode > KVN_LITMODE_PLAIN || len > avail - 3) break;
            const uint32_t raw = uint32_t(std::min<uint64_t>(left, KVN_SUBCHUNK_SIZE));
            visit({slot, p + 3, len, raw, first, len < raw});
            first = false;
            p += 3 + len;
            avail -= 3 + len;
            left -= raw;
        }
    }
}

std::vector<uint32_t> subChunkStarts(const Batch& b) {
    std::vector<uint32_t> starts;
    uint32_t total = 0;
    for (const KvnChunkDesc& d : b.descs) {
        starts.push_back(total);
        const bool coded = (d.flags & KVN_CHUNK_KIND_MASK) == KVN_CHUNK_KIND_CODED && d.decomp_size > 0;
        total += coded ? (d.decomp_size + KVN_SUBCHUNK_SIZE - 1) / KVN_SUBCHUNK_SIZE : 1;
    }
    return starts;
}

uint32_t subChunkTotal(const Batch& b) {
    const std::vector<uint32_t> starts = subChunkStarts(b);
    if (starts.empty()) return 0;
    const KvnChunkDesc& d = b.descs.back();
    const bool coded = (d.flags & KVN_CHUNK_KIND_MASK) == KVN_CHUNK_KIND_CODED && d.decomp_size > 0;
    return starts.back() + (coded ? (d.decomp_size + KVN_SUBCHUNK_SIZE - 1) / KVN_SUBCHUNK_SIZE : 1);
}

std::vector<uint32_t> fullSlotStarts(const Batch& b) {
    std::vector<uint32_t> starts(size_t(std::max(subChunkTotal(b), 1u)) + 1);
    for (size_t g = 0; g < starts.size(); ++g) starts[g] = uint32_t(g * KVN_SUBCHUNK_SIZE);
    return starts;
}

Scratch referenceScratch(const Batch& b) {
    const size_t bytes = size_t(std::max(subChunkTotal(b), 1u)) * KVN_SUBCHUNK_SIZE;
    Scratch s{std::vector<uint8_t>(bytes, 0xC3), std::vector<uint8_t>(bytes, 0xC3), std::vector<uint8_t>(bytes, 0xC3)};
    forEachSubChunk(b, [&](const SubChunkView& v) {
        if (!v.coded) return;
        const ref::ParsedSubChunk p = ref::parseSubChunk(v.body, v.len, v.raw, v.frame_first);
        const size_t at = size_t(v.slot) * KVN_SUBCHUNK_SIZE;
        std::copy(p.literals.begin(), p.literals.end(), s.literals.begin() + at);
        std::copy(p.tokens.begin(), p.tokens.end(), s.tokens.begin() + at);
        if (p.off16_split) {
            for (size_t k = 0; k < p.off16.size(); ++k) {
                s.off16[at + k] = uint8_t(p.off16[k] >> 8);
                s.off16[at + KVN_OFF16_LOW_OFFSET + k] = uint8_t(p.off16[k]);
            }
        }
    });
    return s;
}

bool usesHuffmanStreams(const Batch& b) {
    bool any = false;
    forEachSubChunk(b, [&](const SubChunkView& v) {
        if (!v.coded) return;
        const ref::ParsedSubChunk p = ref::parseSubChunk(v.body, v.len, v.raw, v.frame_first);
        any = any || p.huffman_streams > 0 || p.off16_split;
    });
    return any;
}

std::vector<uint8_t> referenceOutput(const Batch& b, uint32_t guard, uint8_t guard_fill) {
    std::vector<uint8_t> out(size_t(b.out_len) + guard, guard_fill);
    const ref::Dictionary dict{b.use_dictionary ? b.dictionary.data() : nullptr, uint32_t(b.dictionary.size())};
    ref::decodeChunks(b.payload, b.descs, KVN_SUBCHUNK_SIZE, std::span(out).first(b.out_len), dict);
    return out;
}

Batch encodedBatch(std::string name, const std::vector<uint8_t>& input, const ref::EncodeOptions& options) {
    const ref::EncodedBlock block = ref::encodeBlock(input, options);
    const uint32_t chunk = std::min<uint32_t>(uint32_t(options.sc_group_size * KVN_CHUNK_UNIT), KVN_CHUNK_UNIT);
    Batch b;
    b.name = std::move(name);
    b.payload = block.payload;
    b.descs.resize((input.size() + chunk - 1) / chunk);
    ChunkWalk walk;
    if (walkChunks(b.payload, input.size(), chunk, options.sc_group_size, 0, b.descs, &walk) != Error::None)
        throw std::runtime_error("reference block does not walk");
    b.descs.resize(walk.chunk_count);
    b.chunks_per_item = walk.chunks_per_item;
    b.out_len = uint32_t(input.size());
    b.independent_chunks = true;
    b.huffman = options.huffman;
    if (!options.lz.dictionary.empty()) {
        b.dictionary.assign(options.lz.dictionary.begin(), options.lz.dictionary.end());
        b.use_dictionary = true;
    }
    return b;
}

Batch handBatch(std::string name, const std::vector<std::vector<SubChunkStreams>>& chunks, bool huffman,
                bool history) {
    Batch b;
    b.name = std::move(name);
    b.huffman = huffman;
    uint32_t dst = 0;
    if (history) {
        for (uint32_t i = 0; i < 64; ++i) b.payload.push_back(uint8_t('a' + i % 26));
        b.descs.push_back({0, 64, 64, 0, KVN_CHUNK_KIND_STORED, 0, {}});
        dst = 64;
    }
    for (const auto& subchunks : chunks) {
        KvnChunkDesc d{uint32_t(b.payload.size()), 0, 0, dst, KVN_CHUNK_KIND_CODED, 0, {}};
        for (const SubChunkStreams& s : subchunks) {
            const std::vector<uint8_t> bytes = ref::encodeSubChunk(s, huffman);
            b.payload.insert(b.payload.end(), bytes.begin(), bytes.end());
            d.decomp_size += s.raw_len;
        }
        d.comp_size = uint32_t(b.payload.size()) - d.src_off;
        b.descs.push_back(d);
        dst += d.decomp_size;
    }
    b.out_len = dst;
    b.chunks_per_item = uint32_t(b.descs.size());
    return b;
}

namespace {

std::vector<uint8_t> letters(uint32_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (uint32_t i = 0; i < n; ++i) v[i] = uint8_t('A' + (i * 7 + seed) % 26);
    return v;
}

SubChunkStreams streams(uint32_t raw, std::vector<uint8_t> tokens, uint32_t literal_count) {
    SubChunkStreams s;
    s.raw_len = raw;
    s.tokens = std::move(tokens);
    s.literals = letters(literal_count, raw);
    return s;
}

// Appends literal-only tokens for n literals (token 0 for 64 and more).
void literalTokens(SubChunkStreams& s, uint32_t n) {
    while (n > 0) {
        if (n >= 64) {
            const uint32_t v = std::min<uint32_t>(n - 64, 200000);
            s.tokens.push_back(KVN_TOKEN_LONG_LITERALS);
            ref::appendLength(s.lengths, v);
            n -= v + 64;
        } else {
            const uint32_t k = std::min<uint32_t>(n, 7);
            s.tokens.push_back(uint8_t(KVN_TOKEN_REPEAT | k));
            n -= k;
        }
    }
}

std::vector<Batch> tokenFormBatches() {
    std::vector<Batch> out;
    {
        SubChunkStreams s = streams(17, {0x87, 0x1F}, 14);
        s.off16 = {5};
        out.push_back(handBatch("literal-only 0x87 then 0x1F", {{s}}, false));
    }
    {
        SubChunkStreams s = streams(9, {0x1B, 0x80, 0x98}, 3);
        s.off16 = {2};
        out.push_back(handBatch("0x80 writes nothing and keeps the repeat distance", {{s}}, false));
    }
    {
        SubChunkStreams s = streams(96, {0x85, 0x01}, 5);
        s.off16 = {5};
        s.lengths = {0};
        out.push_back(handBatch("token 1 with v 0 copies 91 bytes", {{s}}, false));
        s.raw_len = 5 + 349;
        s.lengths = {0xFE, 0x01, 0x00};
        out.push_back(handBatch("token 1 with an escaped length of 258", {{s}}, false));
    }
    {
        SubChunkStreams s = streams(34, {0x85, 0x02}, 5);
        s.lengths = {0};
        s.off32_first = {40};
        out.push_back(handBatch("token 2 copies 29 bytes from the half base minus w", {{s}}, false));
        SubChunkStreams f = streams(5 + 8 + 28, {0x85, 0x03, 0x17}, 5);
        f.off32_first = {10, 60};
        out.push_back(handBatch("far tokens 3 and 23", {{f}}, false));
    }
    {
        SubChunkStreams s = streams(21, {0x81, 0x78, 0xA8}, 1);
        s.off16 = {1};
        out.push_back(handBatch("distance 1 overlap repeats the previous byte", {{s}}, false));
        SubChunkStreams l = streams(1 + 91 + 200, {0x81, 0x01, 0x01}, 1);
        l.off16 = {1, 3};
        l.lengths = {0, 109};
        out.push_back(handBatch("long overlapping matches at distances 1 and 3", {{l}}, false));
    }
    {
        SubChunkStreams s = streams(8 + 3 + 4, {0x83, 0xA0}, 3);
        s.raw8 = letters(8, 3);
        out.push_back(handBatch("first match at the initial repeat distance 8", {{s}}, false, false));
    }
    {
        SubChunkStreams s = streams(16, {0x19, 0x19, 0x19, 0x19}, 4);
        s.off16 = {1, 2, 3};
        out.push_back(handBatch("four off16 tokens, three entries: the last repeats", {{s}}, false));
        SubChunkStreams o = streams(12, {0x19, 0x1A, 0x98}, 3);
        o.off16 = {0};
        out.push_back(handBatch("off16 distance 0 skips the match", {{o}}, false));
    }
    {
        // First-half tokens end at 65530: the next 6 literals fill the half.
        SubChunkStreams s;
        s.raw_len = 65537;
        literalTokens(s, 65530);
        s.first_half_tokens = uint16_t(s.tokens.size());
        s.tokens.push_back(0x81);
        s.literals = letters(65537, 11);
        out.push_back(handBatch("65537-byte sub-chunk, first half short by 6", {{s}}, false));
    }
    {
        // Full sub-chunk: a far match in the second half reads the first half.
        SubChunkStreams s;
        s.raw_len = KVN_SUBCHUNK_SIZE;
        literalTokens(s, KVN_HALF_SIZE);
        s.first_half_tokens = uint16_t(s.tokens.size());
        s.tokens.push_back(KVN_TOKEN_LONG_MATCH32);
        ref::appendLength(s.lengths, 1000);
        s.off32_second = {70000};
        s.tokens.push_back(0x1B);
        s.off16 = {4000};
        literalTokens(s, KVN_SUBCHUNK_SIZE - KVN_HALF_SIZE - 1029 - 6);
        s.literals = letters(KVN_SUBCHUNK_SIZE - 1029 - 3, 5);
        out.push_back(handBatch("131072-byte sub-chunk with off32 and off16 in the second half", {{s, s}}, false));
    }
    {
        // off32 entries above 0xBFFFFF take four bytes; the entry and the
        // length after it must still line up.
        SubChunkStreams s = streams(5 + 8 + 9 + 29 + 91, {0x85, 0x03, 0x04, 0x02, 0x01}, 5);
        s.off32_first = {0xC12345, 12, 0xFFFFFF + 5};
        s.off16 = {7};
        s.lengths = {0, 0};
        Batch b = handBatch("off32 entries in the 4-byte form", {{s}}, false);
        b.dictionary = letters(16, 9);
        b.use_dictionary = true;
        out.push_back(b);
    }
    {
        SubChunkStreams near = streams(5 + 8, {0x85, 0x40}, 5);
        near.off16 = {9};
        SubChunkStreams far = streams(5 + 12, {0x85, 0x60}, 5);
        far.off16 = {45};
        for (const auto& [name, s] : {std::pair{"dictionary 4 bytes back", near}, std::pair{"dictionary 40 bytes back", far}}) {
            Batch b = handBatch(name, {{s}}, false);
            b.dictionary = letters(32, 1);
            b.use_dictionary = true;
            out.push_back(b);
        }
    }
    {
        SubChunkStreams s = streams(8 + 7 + 15 + 7 + 91 + 70, {0x87, 0x7F, 0x87, 0x01, 0x00}, 7 + 7 + 7 + 70);
        s.raw8 = letters(8, 2);
        s.off16 = {3, 40};
        s.lengths = {0, 6};
        s.literal_mode = KVN_LITMODE_DELTA;
        out.push_back(handBatch("delta literals in the frame's first sub-chunk", {{s}}, false, false));
        SubChunkStreams t = streams(7 + 15, {0x87, 0x7F}, 7);
        t.off16 = {2};
        t.literal_mode = KVN_LITMODE_DELTA;
        Batch b = handBatch("delta literals before the repeat distance add 0", {{t}}, false);
        for (KvnChunkDesc& d : b.descs) d.dst_off = d.dst_off == 0 ? 0 : 2;  // history of 2 bytes
        b.descs[0].decomp_size = 2;
        b.out_len = 2 + 22;
        out.push_back(b);
    }
    {
        SubChunkStreams s = streams(200, {}, 200 - 20);
        literalTokens(s, 100);
        s.tokens.push_back(0x78);
        s.off16 = {33};
        s.tokens.push_back(0xA8);
        literalTokens(s, 80);
        s.literal_form = ref::StreamForm::StoredShort;
        s.token_form = ref::StreamForm::StoredShort;
        out.push_back(handBatch("short stored stream headers", {{s}}, false));
        SubChunkStreams split = s;
        split.off16_form = ref::Off16Form::Split;
        split.off16_high_form = ref::StreamForm::Stored;
        split.off16_low_form = ref::StreamForm::StoredShort;
        out.push_back(handBatch("split off16 with stored halves", {{split}}, false));
        // A short Huffman header needs fewer than 1024 coded bytes and
        // symbols beyond them.
        SubChunkStreams huff = streams(1020, {}, 1000);
        literalTokens(huff, 500);
        huff.tokens.push_back(0x78);
        huff.tokens.push_back(0xA8);
        literalTokens(huff, 500);
        huff.off16 = {33};
        for (size_t i = 0; i < huff.literals.size(); ++i) huff.literals[i] = i % 5 ? 'e' : 't';
        huff.literal_form = ref::StreamForm::HuffmanShort;
        huff.token_form = ref::StreamForm::Huffman;
        huff.off16_form = ref::Off16Form::Split;
        huff.off16_high_form = ref::StreamForm::Huffman;
        huff.off16_low_form = ref::StreamForm::Stored;
        out.push_back(handBatch("Huffman streams and a split off16 with one coded half", {{huff}}, true));
    }
    {
        // The most tokens a full sub-chunk holds: one literal each. And
        // 1-byte matches that each copy the previous token's byte, a chain
        // through every window (the costliest token form on lavapipe).
        SubChunkStreams lits = streams(KVN_SUBCHUNK_SIZE, std::vector<uint8_t>(KVN_SUBCHUNK_SIZE, 0x81), KVN_SUBCHUNK_SIZE);
        out.push_back(handBatch("131072 one-literal tokens", {{lits}}, false));
        SubChunkStreams chain = streams(32768, {0x81, 0x19}, 2);
        chain.off16 = {1};
        chain.tokens.resize(32768 - 3, 0x88);
        out.push_back(handBatch("32765 chained one-byte matches", {{chain}}, false));
    }
    return out;
}

// Matches copied in units of several bytes: each reads only output written
// before its window, the shape the decoders copy unit by unit.
std::vector<Batch> wideCopyBatches() {
    std::vector<Batch> out;
    const std::vector<uint8_t> literal_window(32, 0x87);  // a first window of 224 literals
    {
        // One 100-byte match opening the second window (six whole units and
        // four bytes), overlapping itself at every distance below the unit.
        std::vector<std::vector<SubChunkStreams>> chunks;
        for (uint16_t d = 1; d <= 33; ++d) {
            std::vector<uint8_t> tokens = literal_window;
            tokens.push_back(KVN_TOKEN_LONG_MATCH16);
            tokens.push_back(0x83);
            SubChunkStreams s = streams(224 + 100 + 3, tokens, 224 + 3);
            s.off16 = {d};
            s.lengths = {100 - KVN_LONG_MATCH16_BASE};
            chunks.push_back({s});
        }
        out.push_back(handBatch("100-byte matches at distances 1 to 33 after a window of literals", chunks, false));
    }
    {
        // A window of short tokens whose matches all reach before it: the
        // first overlaps itself at distance 3, the others lie 22 bytes apart
        // at distances just far enough.
        std::vector<uint8_t> tokens = literal_window;
        tokens.push_back(0x78);
        SubChunkStreams s = streams(224 + 15 + 31 * 22, {}, 224 + 31 * 7);
        s.off16 = {3};
        for (uint16_t k = 1; k < 32; ++k) {
            tokens.push_back(0x7F);
            s.off16.push_back(uint16_t(22 * k + 15 + k % 5));
        }
        s.tokens = tokens;
        out.push_back(handBatch("a window of 15-byte matches reaching before it", {{s}}, false));
    }
    return out;
}

std::vector<Batch> chunkKindBatches() {
    std::vector<Batch> out;
    SubChunkStreams s = streams(40, {}, 40);
    literalTokens(s, 40);
    Batch b = handBatch("stored, fill, kind 3 and frame-first-flag chunks", {{s}, {s}}, false);
    // A byte-fill chunk, a chunk of kind 3 (nothing), a coded chunk flagged as
    // a frame's first (its body opens with 8 raw bytes), an empty chunk.
    b.descs.push_back({0, 0, 100, b.out_len, KVN_CHUNK_KIND_FILL, 0xAB, {}});
    b.descs.push_back({0, 64, 30, b.out_len + 100, 3, 0, {}});
    SubChunkStreams f = streams(8 + 40, {}, 40);
    f.raw8 = letters(8, 4);
    literalTokens(f, 40);
    const std::vector<uint8_t> bytes = ref::encodeSubChunk(f, false);
    b.descs.push_back({uint32_t(b.payload.size()), uint32_t(bytes.size()), 48, b.out_len + 130,
                       KVN_CHUNK_KIND_CODED | KVN_CHUNK_FLAG_FRAME_FIRST, 0, {}});
    b.payload.insert(b.payload.end(), bytes.begin(), bytes.end());
    b.descs.push_back({0, 0, 0, b.out_len + 178, KVN_CHUNK_KIND_CODED, 0, {}});
    // A coded chunk whose single sub-chunk is stored (body >= decoded size)
    // and looks like stream headers.
    std::vector<uint8_t> stored = {0x80 | 0x08, 0x00, 20};
    for (uint32_t i = 0; i < 20; ++i) stored.push_back(i % 2 ? 0x40 : 0x00);
    b.descs.push_back({uint32_t(b.payload.size()), uint32_t(stored.size()), 20, b.out_len + 178, 0, 0, {}});
    b.payload.insert(b.payload.end(), stored.begin(), stored.end());
    b.out_len += 198;
    b.chunks_per_item = 1;
    out.push_back(b);
    return out;
}

std::vector<Batch> textBatches() {
    std::vector<Batch> out;
    const std::vector<uint8_t> text = test::systemHeaderBytes(600000);
    for (int level = 1; level <= 4; ++level) {
        for (float sc : {0.25f, 1.0f}) {
            const ref::EncodeOptions o = ref::encodeOptionsForLevel(level, sc);
            out.push_back(encodedBatch("text level " + std::to_string(level) + " chunk fraction " +
                                           std::to_string(sc).substr(0, 4),
                                       text, o));
        }
    }
    // A dictionary the encoder matches against.
    ref::EncodeOptions o = ref::encodeOptionsForLevel(2, 0.25f);
    const std::vector<uint8_t> dict(text.begin() + 300000, text.begin() + 340000);
    o.lz.dictionary = dict;
    out.push_back(encodedBatch("text level 2 with a dictionary", std::vector<uint8_t>(text.begin(), text.begin() + 150000), o));
    return out;
}

}  // namespace

std::vector<Batch> fixtureBatches() {
    std::vector<Batch> out = tokenFormBatches();
    for (Batch& b : wideCopyBatches()) out.push_back(std::move(b));
    for (Batch& b : chunkKindBatches()) out.push_back(std::move(b));
    for (Batch& b : textBatches()) out.push_back(std::move(b));
    return out;
}

std::vector<Batch> damagedBatches() {
    std::vector<Batch> sources;
    const std::vector<uint8_t> text = test::systemHeaderBytes(200000);
    sources.push_back(encodedBatch("level 1", text, ref::encodeOptionsForLevel(1, 0.5f)));
    sources.push_back(encodedBatch("level 3", text, ref::encodeOptionsForLevel(3, 1.0f)));
    for (Batch& b : tokenFormBatches()) sources.push_back(std::move(b));
    std::mt19937 rng(1234);
    std::vector<Batch> out;
    for (const Batch& src : sources) {
        for (int round = 0; round < 6; ++round) {
            Batch b = src;
            b.name = src.name + " damaged #" + std::to_string(round);
            b.chunks_per_item = uint32_t(b.descs.size());
            b.independent_chunks = false;
            // Change a few bytes of one coded chunk, more of them near its
            // start where the stream headers and counts lie.
            std::vector<size_t> coded;
            for (size_t i = 0; i < b.descs.size(); ++i)
                if ((b.descs[i].flags & KVN_CHUNK_KIND_MASK) == KVN_CHUNK_KIND_CODED && b.descs[i].comp_size > 3)
                    coded.push_back(i);
            b.damaged_chunk = coded[rng() % coded.size()];
            const KvnChunkDesc& d = b.descs[b.damaged_chunk];
            const uint32_t changes = 1 + rng() % 4;
            for (uint32_t k = 0; k < changes; ++k) {
                const uint32_t span = (round % 2) ? d.comp_size : std::min<uint32_t>(d.comp_size, 40);
                uint8_t& byte = b.payload[d.src_off + rng() % span];
                byte = (round % 3 == 0) ? uint8_t(rng()) : uint8_t(byte ^ (1u << (rng() % 8)));
            }
            out.push_back(std::move(b));
        }
    }
    return out;
}

}  // namespace kvn::dectest
