// Round trips through the reference encoder and decoder on real text, random
// and repetitive data, over the chunk fractions, with and without Huffman
// streams and a dictionary.
#include <gtest/gtest.h>

#include <numeric>

#include "chunk_test_data.h"
#include "core/format/chunk_walk.h"
#include "core/format/frame_header.h"
#include "core/format/size_math.h"
#include "reference/reference_codec.h"

namespace kvn {
namespace {

using ref::Dictionary;

enum class Data { Text, Random, Repetitive };

// Built on first use: each test process reads only the data it needs.
const std::vector<uint8_t>& corpusText() {
    static const auto bytes = test::machineText(1200000);
    return bytes;
}
const std::vector<uint8_t>& corpusRepetitive() {
    static const auto bytes = test::repetitiveBytes(1200000, 11);
    return bytes;
}
// Dictionary text; inputs that use it start their groups with some of it.
const std::vector<uint8_t>& corpusDictionary() {
    static const auto bytes = test::machineText(40000);
    return bytes;
}
std::vector<uint8_t> corpus(Data d) {
    return d == Data::Text ? corpusText() : d == Data::Random ? test::randomBytes(700000, 7) : corpusRepetitive();
}

struct Case {
    Data data;
    float fraction;
    bool huffman;
    bool dictionary;
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    const char* data[] = {"text", "random", "repetitive"};
    return std::string(data[int(c.data)]) + "_f" + std::to_string(int(c.fraction * 100)) +
           (c.huffman ? "_huff" : "_raw") + (c.dictionary ? "_dict" : "");
}

class RoundTrip : public testing::TestWithParam<Case> {};

TEST_P(RoundTrip, FrameDecodesToInput) {
    const Case& c = GetParam();
    std::vector<uint8_t> input = corpus(c.data);
    // Levels 2 and 4: the two parse settings with inserts, without and with Huffman.
    ref::EncodeOptions enc = ref::encodeOptionsForLevel(c.huffman ? 4 : 2, c.fraction);
    Dictionary dict;
    if (c.dictionary) {
        const auto& d = corpusDictionary();
        enc.lz.dictionary = d;
        dict = {d.data(), uint32_t(d.size())};
        // Every group opens with dictionary text.
        const uint32_t group = uint32_t(frameChunkSize(c.fraction)) * std::max(1u, uint32_t(c.fraction));
        for (size_t at = 0; at + 4000 < input.size(); at += group)
            std::copy(d.begin() + 1000, d.begin() + 5000, input.begin() + at);
    }
    ref::FrameOptions frame;
    frame.checksum = frame.merkle_root = frame.chunk_table = true;
    const auto bytes = ref::compressFrame(input, enc, frame);

    const auto decoded = ref::decodeFrame(bytes, dict);
    ASSERT_EQ(decoded.error, Error::None) << errorName(decoded.error);
    EXPECT_EQ(decoded.frame_len, bytes.size());
    ASSERT_EQ(decoded.bytes.size(), input.size());
    EXPECT_TRUE(decoded.bytes == input);

    const double ratio = double(bytes.size()) / input.size();
    if (c.data == Data::Random) EXPECT_LT(ratio, 1.001);
    if (c.data == Data::Text) EXPECT_LT(ratio, c.huffman ? 0.34 : 0.45);
    if (c.dictionary && c.data == Data::Text)  // the matches into the dictionary need it
        EXPECT_EQ(ref::decodeFrame(bytes, {}).error, Error::ChecksumMismatch);
    if (c.data == Data::Repetitive) EXPECT_LT(ratio, c.fraction < 0.5f ? 0.8 : 0.5);
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (Data d : {Data::Text, Data::Random, Data::Repetitive})
        for (float f : {0.25f, 0.5f, 1.0f, 4.0f})
            for (bool h : {false, true})
                for (bool dict : {false, true}) cases.push_back({d, f, h, dict});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip, testing::ValuesIn(allCases()), caseName);

TEST(RoundTripBlock, EveryGreedyLevel) {
    const auto& input = corpusText();
    size_t previous = SIZE_MAX;
    for (int level = 1; level <= 4; ++level) {
        const auto frame = ref::compressFrame(input, ref::encodeOptionsForLevel(level, 0.25f), {});
        const auto decoded = ref::decodeFrame(frame, {});
        ASSERT_EQ(decoded.error, Error::None) << level;
        EXPECT_TRUE(decoded.bytes == input) << level;
        if (level == 3) EXPECT_LT(frame.size(), previous);  // Huffman streams pay
        previous = frame.size();
    }
}

// The chunk-size table holds each record's length; the entries add up to the
// payload without the chunk-prefix area.
TEST(RoundTripBlock, ChunkSizeTableMatchesRecords) {
    const auto& input = corpusText();
    for (float f : {0.25f, 1.0f}) {
        ref::EncodeOptions enc;
        enc.sc_group_size = f;
        enc.huffman = true;
        const auto block = ref::encodeBlock(input, enc);
        const uint32_t chunk = uint32_t(frameChunkSize(f));
        const uint64_t n = ceilDiv(input.size(), chunk);
        ASSERT_EQ(block.record_sizes.size(), n);
        const uint64_t records = std::accumulate(block.record_sizes.begin(), block.record_sizes.end(), uint64_t(0));
        EXPECT_EQ(records, block.payload.size() - 8 * (n - 1));

        std::vector<KvnChunkDesc> descs(n);
        ChunkWalk walk;
        ASSERT_EQ(walkChunks(block.payload, input.size(), chunk, f, 0, descs, &walk), Error::None);
        EXPECT_EQ(walk.prefix_area_off, records);
        uint64_t pos = 0;
        for (uint64_t k = 0; k < n; ++k) {
            const uint32_t headers = descs[k].flags == KVN_CHUNK_KIND_STORED && descs[k].comp_size == descs[k].decomp_size &&
                                             block.payload[pos] & KVN_CHUNK_HDR0_STORED
                                         ? 2
                                         : 6;
            EXPECT_EQ(descs[k].src_off, pos + headers) << k;
            pos += block.record_sizes[k];
        }
    }
}

// The encoder's output exercises every stream feature the decoders must know.
TEST(RoundTripBlock, EncoderEmitsEveryStreamFeature) {
    ref::EncodeOptions enc;
    enc.sc_group_size = 1.0f;
    enc.huffman = true;
    enc.fill_chunks = true;
    // Text brings many near matches (split off16), the repetitive part far ones.
    std::vector<uint8_t> input(corpusText().begin(), corpusText().begin() + 600000);
    input.insert(input.end(), corpusRepetitive().begin(), corpusRepetitive().begin() + 600000);
    std::fill(input.begin() + 262144, input.begin() + 2 * 262144, uint8_t(0x5A));  // one fill chunk
    const auto block = ref::encodeBlock(input, enc);
    const uint32_t chunk = uint32_t(frameChunkSize(1.0f));
    std::vector<KvnChunkDesc> descs(ceilDiv(input.size(), chunk));
    ChunkWalk walk;
    ASSERT_EQ(walkChunks(block.payload, input.size(), chunk, 1.0f, 0, descs, &walk), Error::None);

    uint32_t kinds[3] = {}, huffman = 0, splits = 0, off32 = 0, token_splits = 0;
    for (const auto& d : descs) {
        kinds[d.flags & KVN_CHUNK_KIND_MASK]++;
        if ((d.flags & KVN_CHUNK_KIND_MASK) != KVN_CHUNK_KIND_CODED) continue;
        uint32_t pos = d.src_off;
        for (uint32_t left = d.decomp_size, j = 0; left > 0; ++j) {
            const uint8_t* h = &block.payload[pos];
            const uint32_t len = (h[0] << 16 | h[1] << 8 | h[2]) & KVN_SUBCHUNK_LEN_MASK;
            const uint32_t raw = std::min(left, KVN_SUBCHUNK_SIZE);
            const auto s = ref::parseSubChunk(h + 3, len, raw, d.dst_off == 0 && j == 0);
            huffman += s.huffman_streams;
            splits += s.off16_split;
            off32 += uint32_t(s.off32_first.size() + s.off32_second.size());
            token_splits += s.token_split != 0;
            pos += 3 + len;
            left -= raw;
        }
    }
    EXPECT_GT(kinds[KVN_CHUNK_KIND_CODED], 0u);
    EXPECT_EQ(kinds[KVN_CHUNK_KIND_FILL], 1u);
    EXPECT_GT(huffman, 0u);
    EXPECT_GT(splits, 0u);
    EXPECT_GT(off32, 0u);
    EXPECT_GT(token_splits, 0u);
    std::vector<uint8_t> out(input.size());
    ASSERT_EQ(ref::decodeBlock(block.payload, input.size(), chunk, 1.0f, out, 0, {}), Error::None);
    EXPECT_TRUE(out == input);
}

// A dictionary only helps when the parse finds matches in it.
TEST(RoundTripBlock, DictionaryShortensFrame) {
    const auto& d = corpusDictionary();
    std::vector<uint8_t> input(d.begin() + 2000, d.begin() + 30000);
    ref::EncodeOptions enc;
    enc.sc_group_size = 1.0f;
    const size_t plain = ref::encodeBlock(input, enc).payload.size();
    enc.lz.dictionary = d;
    const auto block = ref::encodeBlock(input, enc);
    EXPECT_LT(block.payload.size() * 4, plain);
    std::vector<uint8_t> out(input.size());
    ASSERT_EQ(ref::decodeBlock(block.payload, input.size(), uint32_t(frameChunkSize(1.0f)), 1.0f, out, 0,
                               {d.data(), uint32_t(d.size())}),
              Error::None);
    EXPECT_TRUE(out == input);
}

}  // namespace
}  // namespace kvn
