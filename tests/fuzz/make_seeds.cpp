// Writes the seed corpus of every fuzz target (tests/fuzz/seeds/<target>/, frames/ for
// the three targets that read frames):
// real frames from the reference encoder at every level, with a dictionary,
// trailers, a chunk-size table, stored, skipped and fill chunks and several
// frames in a row; WRT sections and streams from the CPU WRT encoder;
// Huffman streams from the reference encoder. Usage: kvn_fuzz_seeds <dir>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/dict/builtin_dictionary.h"
#include "core/wrt/wrt_encode.h"
#include "tests/core/integrity/sample_data.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/reference/reference_codec.h"

using namespace kvn;
using Bytes = std::vector<uint8_t>;

namespace {

std::filesystem::path g_root;

void save(const char* target, const std::string& name, const Bytes& bytes) {
    const std::filesystem::path dir = g_root / target;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Frames (seeds/frames/) feed the three frame-reading targets; each must decode back.
void saveFrame(const std::string& name, const Bytes& frame, const Bytes& content, ref::Dictionary dict = {}) {
    const ref::DecodedFrame decoded = ref::decodeFrame(frame, dict);
    if (decoded.error != Error::None || decoded.bytes != content) {
        std::fprintf(stderr, "seed %s does not decode back\n", name.c_str());
        std::exit(1);
    }
    save("frames", name, frame);
}

Bytes text(size_t n, size_t skip) {
    static const Bytes all = test::systemHeaderBytes(1 << 20);
    return Bytes(all.begin() + skip, all.begin() + skip + n);
}

ref::FrameOptions trailers(bool checksum, bool merkle, bool table) {
    ref::FrameOptions f;
    f.checksum = checksum;
    f.merkle_root = merkle;
    f.chunk_table = table;
    return f;
}

void frameSeeds() {
    const float sc = 1.0f / 64;  // 4 KiB chunks: several per block
    std::vector<Bytes> concatenated;
    Bytes joined_content;
    for (int level = 1; level <= 4; ++level) {
        const Bytes content = text(level >= 3 ? 20000 : 9000, 5000 * level);
        const Bytes frame = ref::compressFrame(content, ref::encodeOptionsForLevel(level, sc),
                                               trailers(level % 2 == 1, level <= 2, level >= 3));
        saveFrame("level" + std::to_string(level), frame, content);
        if (level == 1 || level == 3) {
            concatenated.push_back(frame);
            joined_content.insert(joined_content.end(), content.begin(), content.end());
        }
    }
    // A chunk as large as the frame allows at level 3 (one chunk per block).
    const Bytes big = text(30000, 100000);
    saveFrame("level3_one_chunk", ref::compressFrame(big, ref::encodeOptionsForLevel(3, 0.25f), trailers(true, true, false)),
              big);

    // A built-in dictionary the encoder matches against.
    const BuiltinDictionary* builtin = builtinDictionary(1);
    ref::EncodeOptions with_dict = ref::encodeOptionsForLevel(1, sc);
    with_dict.lz.dictionary = std::span(builtin->data, size_t(builtin->data_length));
    ref::FrameOptions dict_frame = trailers(true, false, false);
    dict_frame.dict_id = builtin->id;
    const Bytes dict_content = text(6000, 300000);
    saveFrame("dictionary", ref::compressFrame(dict_content, with_dict, dict_frame), dict_content,
              {builtin->data, uint32_t(builtin->data_length)});

    // Byte-fill chunks, a stored block, a skipped block, no content size.
    Bytes runs(12000, 'a');
    std::fill(runs.begin() + 5000, runs.end(), 0);
    ref::EncodeOptions fill = ref::encodeOptionsForLevel(2, sc);
    fill.fill_chunks = true;
    saveFrame("fill_chunks", ref::compressFrame(runs, fill, trailers(true, true, true)), runs);
    const Bytes small = text(100, 7);
    ref::FrameOptions plain = trailers(true, false, false);
    plain.content_size = false;
    saveFrame("stored", ref::compressFrame(small, ref::encodeOptionsForLevel(1, sc), plain), small);
    ref::FrameOptions skip_options = trailers(false, true, false);
    skip_options.sc_group_size = sc;
    const Bytes tail = text(3000, 9000);
    ref::FrameBuilder builder(skip_options);
    // The coded block opens the frame: its first sub-chunk holds the frame's raw bytes.
    builder.codedBlock(ref::encodeBlock(tail, ref::encodeOptionsForLevel(3, sc))).skipBlock(text(40, 0)).storedBlock(small);
    Bytes both = tail;
    both.insert(both.end(), small.begin(), small.end());
    saveFrame("skip_and_blocks", builder.finish(both), both);
    saveFrame("empty", ref::compressFrame({}, ref::encodeOptionsForLevel(1, sc), trailers(true, true, false)), {});

    Bytes joined;
    for (const Bytes& f : concatenated) joined.insert(joined.end(), f.begin(), f.end());
    save("frames", "two_frames", joined);
}

void wrtSeeds() {
    // A few words over and over, and real text: small and large dictionaries.
    Bytes words;
    const char* vocabulary[] = {"The ", "frame ", "decoder ", "reads ", "every ", "Block ", "WORD ", "again. "};
    for (size_t i = 0; words.size() < kWrtMinInput + 100; ++i) {
        const char* w = vocabulary[(i * 7 + i / 3) % 8];
        words.insert(words.end(), w, w + std::strlen(w));
    }
    int n = 0;
    for (const Bytes& input : {words, text(kWrtMinInput + 5000, 200000)}) {
        WrtEncodeOutput out;
        if (wrtEncodeCpu(input.data(), input.size(), &out, 2) != Error::None || !out.applied) {
            std::fprintf(stderr, "the WRT encoder left seed %d plain\n", n);
            std::exit(1);
        }
        Bytes seed;
        fuzz::writeWrtInput(seed, uint8_t(1 + 2 * n), {out.section.bytes.get(), out.section.size},
                            {out.text.get(), out.text_size});
        save("wrt", "wrt" + std::to_string(n++), seed);
    }
}

void huffmanSeeds() {
    const Bytes literals = text(6000, 40000);
    Bytes skewed(3000);
    for (size_t i = 0; i < skewed.size(); ++i) skewed[i] = uint8_t(__builtin_ctz(uint32_t(i * 2654435761u) | 0x100));
    const Bytes coded_text = ref::huffEncode(literals.data(), uint32_t(literals.size()), 1);
    const Bytes coded_skewed = ref::huffEncode(skewed.data(), uint32_t(skewed.size()), 1);
    const Bytes coded_short = ref::huffEncode(literals.data(), 40, 1);
    Bytes one, four;
    fuzz::writeHuffRecord(one, {0, 0, uint32_t(literals.size()), 0, coded_text});
    save("huffman_decode", "literals", one);
    fuzz::writeHuffRecord(four, {0, 0, uint32_t(literals.size()), 3, coded_text});
    fuzz::writeHuffRecord(four, {1, 1, uint32_t(skewed.size()), 0, coded_skewed});
    fuzz::writeHuffRecord(four, {2, 1, 40, 1, coded_short});
    fuzz::writeHuffRecord(four, {3, 2, uint32_t(skewed.size()), 0, coded_skewed});
    save("huffman_decode", "four_lists", four);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    frameSeeds();
    wrtSeeds();
    huffmanSeeds();
    return 0;
}
