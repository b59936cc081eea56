// The Huffman encode kernels against the reference code builder and stream
// writer: code tables and coded streams equal byte for byte, read back by the
// reference decoder, on pinned streams and on the LZ output of real files;
// the stream scan against the layout of the reference streams; lavapipe's
// loop budget on the largest sub-chunk, and what a stream beyond it reports.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <numeric>

#include "core/format/chunk_test_data.h"
#include "core/format/frame_header.h"
#include "encode_rig.h"

namespace kvn::test {
namespace {

constexpr KernelBackend kBackends[] = {KernelBackend::Host, KernelBackend::Lavapipe};

// The coded stream's header fields.
struct CodedHeader {
    uint32_t min_bytes, width, rows;
};

CodedHeader headerOf(const std::vector<uint8_t>& s) {
    const uint32_t w = s[KVN_HUFF_DELTA_WIDTH_OFF];
    const uint32_t at = KVN_HUFF_DELTAS_OFF + 4 * w;
    return {uint32_t(s[128] | s[129] << 8 | s[130] << 16), w,
            uint32_t(s[at] | s[at + 1] << 8 | s[at + 2] << 16 | uint32_t(s[at + 3]) << 24)};
}

uint64_t kraftSum(const uint8_t* lengths) {
    uint64_t k = 0;
    for (int s = 0; s < 256; ++s)
        if (lengths[s]) k += uint64_t(1) << (30 - lengths[s]);
    return k;
}

// Descriptor d of a batch against the reference: lengths, codes, coded bytes,
// and the reference decoder's reading of the coded bytes.
void expectReferenceStream(const HuffBatchResult& got, const HuffEncodeDesc& desc, size_t d, const uint8_t* symbols) {
    SCOPED_TRACE("stream " + std::to_string(d) + " of " + std::to_string(desc.count) + " symbols");
    const ref::CodeLengths lengths = ref::huffCodeLengths(symbols, desc.count, desc.stride);
    const auto codes = ref::huffCanonicalCodes(lengths);
    ASSERT_TRUE(std::equal(lengths.begin(), lengths.end(), got.lengths.begin() + 256 * d)) << "code lengths";
    ASSERT_TRUE(std::equal(codes.begin(), codes.end(), got.codes.begin() + 256 * d)) << "codes";
    const std::vector<uint8_t> want = ref::huffEncode(symbols, desc.count, desc.stride);
    ASSERT_EQ(got.sizes[d], want.size());
    const auto at = got.coded.begin() + desc.out_off;
    const auto diff = std::mismatch(want.begin(), want.end(), at);
    ASSERT_TRUE(diff.first == want.end()) << "coded bytes differ at " << (diff.first - want.begin());
    std::vector<uint8_t> decoded(desc.count, 0xEE), plain(desc.count);
    ref::huffDecode(&*at, got.sizes[d], desc.count, decoded.data());
    for (uint32_t i = 0; i < desc.count; ++i) plain[i] = symbols[uint64_t(i) * desc.stride];
    EXPECT_EQ(decoded, plain) << "read back";
}

struct PinCase {
    const char* name;
    std::function<std::vector<uint8_t>()> symbols;
    uint32_t stride = 1;
    std::function<void(const std::vector<uint8_t>& coded, const uint8_t* lengths)> check = nullptr;
};

// Counts 1, 1, 2, 3, 5, ... over n symbols: the Huffman tree is a chain
// n - 1 levels deep, so the limit of 11 has to reshape it. Over 20 symbols
// the lengthening ends on a complete code; over 24 it ends below (the rule
// lengthens whole steps of 2^(29 - length)), still within the code space.
std::vector<uint8_t> fibonacciCounts(uint32_t n) {
    std::vector<uint8_t> out;
    uint32_t a = 1, b = 1;
    for (uint32_t s = 0; s < n; ++s) {
        out.insert(out.end(), a, uint8_t('A' + s));
        const uint32_t next = a + b;
        a = b;
        b = next;
    }
    return out;
}

std::vector<uint8_t> distinct(uint32_t n) {
    std::vector<uint8_t> out(n);
    for (uint32_t i = 0; i < n; ++i) out[i] = uint8_t(3 + 7 * i);
    return out;
}

const PinCase kPins[] = {
    // One distinct symbol: length 1, each lane one zero bit, so one byte and
    // one word per lane: m = 1, w = 0, one row of 32 zero words.
    {"ThirtyTwoCopiesOfOneSymbol", [] { return std::vector<uint8_t>(32, 'q'); }, 1,
     [](const std::vector<uint8_t>& coded, const uint8_t* lengths) {
         for (int s = 0; s < 256; ++s) EXPECT_EQ(lengths[s], s == 'q' ? 1 : 0) << s;
         const CodedHeader h = headerOf(coded);
         EXPECT_EQ(h.min_bytes, 1u);
         EXPECT_EQ(h.width, 0u);
         EXPECT_EQ(h.rows, 1u);
         EXPECT_EQ(coded.size(), KVN_HUFF_FIXED_BYTES + KVN_HUFF_ROW_BYTES);
         EXPECT_TRUE(std::all_of(coded.begin() + KVN_HUFF_FIXED_BYTES, coded.end(), [](uint8_t b) { return b == 0; }));
     }},
    // 31 symbols: lanes 0 to 30 get none, lane 31 all of them.
    {"ThirtyOneDistinctSymbols", [] { return distinct(31); }, 1,
     [](const std::vector<uint8_t>& coded, const uint8_t* lengths) {
         uint32_t bits = 0;
         for (uint8_t s : distinct(31)) bits += lengths[s];
         const uint32_t lane31 = (bits + 7) / 8;
         const CodedHeader h = headerOf(coded);
         EXPECT_EQ(h.min_bytes, 0u);
         EXPECT_EQ(h.width, uint32_t(std::bit_width(lane31)));
         EXPECT_EQ(h.rows, 0u);
         EXPECT_EQ(coded.size(), KVN_HUFF_FIXED_BYTES + 4 * h.width + 4 * ((lane31 + 3) / 4));
     }},
    {"FibonacciCountsLimitedTo11", [] { return fibonacciCounts(20); }, 1,
     [](const std::vector<uint8_t>&, const uint8_t* lengths) {
         EXPECT_EQ(*std::max_element(lengths, lengths + 256), KVN_HUFF_MAX_CODE_LEN);
         EXPECT_EQ(kraftSum(lengths), uint64_t(1) << 30) << "the code is complete";
     }},
    {"FibonacciCountsOver24Symbols", [] { return fibonacciCounts(24); }, 1,
     [](const std::vector<uint8_t>&, const uint8_t* lengths) {
         EXPECT_EQ(*std::max_element(lengths, lengths + 256), KVN_HUFF_MAX_CODE_LEN);
         EXPECT_LE(kraftSum(lengths), uint64_t(1) << 30);
     }},
    {"TwoSymbols", [] { return std::vector<uint8_t>{'a', 'b', 'a', 'a'}; }},
    {"AllByteValues", [] { return distinct(256 * 9); }},
    {"Text", [] { return machineText(20000); }},
    {"EveryOtherByte", [] { return randomBytes(5000, 7); }, 2},
    // Counts 1 and 2^k: lengths up to 11 with many symbols at the limit.
    {"SkewedWithManyRareSymbols",
     [] {
         std::vector<uint8_t> out;
         for (uint32_t s = 0; s < 200; ++s) out.insert(out.end(), s < 12 ? 1u << (14 - s) : 1u, uint8_t(s));
         return out;
     }},
};

// All pins in one batch, so that each descriptor's tables and output place
// are its own; a stream with no symbols codes to size 0.
TEST(HuffmanEncode, PinnedStreamsEqualTheReference) {
    std::vector<uint8_t> area;
    std::vector<HuffEncodeDesc> descs;
    uint32_t out = 0;
    for (const PinCase& c : kPins) {
        const std::vector<uint8_t> s = c.symbols();
        const uint32_t n = uint32_t(s.size() / c.stride);
        descs.push_back({uint32_t(area.size()), n, c.stride, out, huffCapacity(n)});
        area.insert(area.end(), s.begin(), s.end());
        area.resize(area.size() + 13);
        out += huffCapacity(n);
    }
    descs.push_back({0, 0, 1, out, 0});
    for (KernelBackend backend : kBackends) {
        SCOPED_TRACE(backendName(backend));
        KernelRig rig(backend);
        const HuffBatchResult got = runHuffBatch(rig, rig.buffer(area), descs);
        ASSERT_EQ(got.fault, "");
        for (size_t d = 0; d < std::size(kPins); ++d) {
            SCOPED_TRACE(kPins[d].name);
            expectReferenceStream(got, descs[d], d, area.data() + descs[d].src_off);
            if (kPins[d].check) {
                const std::vector<uint8_t> coded(got.coded.begin() + descs[d].out_off,
                                                 got.coded.begin() + descs[d].out_off + got.sizes[d]);
                kPins[d].check(coded, got.lengths.data() + 256 * d);
            }
        }
        const size_t empty = descs.size() - 1;
        EXPECT_EQ(got.sizes[empty], 0u);
        EXPECT_TRUE(std::all_of(got.lengths.begin() + 256 * empty, got.lengths.end(), [](uint8_t b) { return b == 0; }));
    }
}

// Where the streams of a sub-chunk lie in its LZ output, from the reference
// streams' counts and the layout (the scan kernel reads them from the bytes).
LzStreamScan expectedScan(const ref::SubChunkStreams& s, const CompressChunkDesc& d) {
    LzStreamScan r{};
    const uint32_t lits = uint32_t(s.literals.size()), tokens = uint32_t(s.tokens.size());
    const uint32_t at = d.out_off + (d.first ? KVN_FRAME_PREFIX_BYTES : 0);
    if (lits > 0) r = {at + 3, lits, 0, 0, 0, 0};
    if (tokens == 0) return r;
    r.tok_off = at + 3 + lits + 3;
    r.tok_count = tokens;
    r.off16_off = r.tok_off + tokens + (d.len > KVN_HALF_SIZE ? 2 : 0) + 2;
    r.off16_count = uint32_t(s.off16.size());
    return r;
}

struct CorpusCase {
    const char* file;
    size_t bytes;
    float fraction;
    int level;
};

// Kept to a few hundred KiB each: every byte goes through the LZ kernel and
// three Huffman batches on lavapipe. Fractions 0.25 and 1.0 give the
// smallest and the largest (131,072-byte) sub-chunks.
const CorpusCase kCorpus[] = {
    {"js-jquery.js", 289782, 0.25f, 3},
    {"text-words.txt", 300000, 1.0f, 3},
    {"binary-x86.so", 270000, 1.0f, 4},
    {"xml-mime.xml", 200000, 0.25f, 4},
    {"image-mri-16bit.raw", 131072, 1.0f, 3},
};

// The whole stage on real data: scan records, every table and coded stream
// against the reference, and the frame body the assembly then writes equal
// to the reference encoder's block, which the reference decoder reads back.
void expectCorpusStage(const CorpusCase& c) {
    const std::vector<uint8_t> input = fileHead(std::string(KVN_CORPUS_DIR) + "/" + c.file, c.bytes);
    ASSERT_FALSE(input.empty()) << "corpus file missing";
    const ref::EncodeOptions options = ref::encodeOptionsForLevel(c.level, c.fraction);
    const FrameGeometry frame = planFrame(input.size(), c.fraction);
    const std::vector<ref::SubChunkStreams> streams = referenceStreams(input, frame, options.lz);
    const ref::EncodedBlock block = ref::encodeBlock(input, options);
    for (KernelBackend backend : kBackends) {
        SCOPED_TRACE(backendName(backend));
        KernelRig rig(backend);
        const LzResult lz = runLzKernel(rig, input, frame, {"kvnLzEncodeGreedyKernel", options.lz});
        ASSERT_EQ(lz.fault, "");
        const HuffmanStage h = runHuffmanStage(rig, frame, lz);
        ASSERT_EQ(h.fault, "");
        const size_t aw = streams.size();
        uint32_t split = 0;
        for (size_t i = 0; i < aw; ++i) {
            SCOPED_TRACE("sub-chunk " + std::to_string(i));
            const LzStreamScan want = expectedScan(streams[i], frame.descs[i]);
            ASSERT_EQ(std::memcmp(&h.scans[i], &want, sizeof want), 0) << "scan record";
            const uint8_t* base = lz.lz_output.data();
            if (want.lit_count) expectReferenceStream(h.batches[0], h.descs[0][i], i, base + want.lit_off);
            if (want.tok_count) expectReferenceStream(h.batches[1], h.descs[1][i], i, base + want.tok_off);
            if (want.off16_count >= 32) {
                ++split;
                expectReferenceStream(h.batches[2], h.descs[2][i], i, base + want.off16_off + 1);
                expectReferenceStream(h.batches[2], h.descs[2][aw + i], aw + i, base + want.off16_off);
            } else {
                EXPECT_EQ(h.batches[2].sizes[i], 0u);
                EXPECT_EQ(h.batches[2].sizes[aw + i], 0u);
            }
        }
        EXPECT_GT(split, 0u) << "no off16 stream was coded";
        const AssembledFrame got = assembleFrame(rig, input, frame, lz, {}, &h);
        ASSERT_EQ(got.fault, "");
        EXPECT_EQ(got.record_sizes, block.record_sizes);
        const std::vector<uint8_t> payload(got.frame.begin(), got.frame.end() - KVN_END_MARK_BYTES);
        ASSERT_TRUE(payload == block.payload) << "frame body differs from the reference block";
        std::vector<uint8_t> decoded(input.size());
        ASSERT_EQ(ref::decodeBlock(payload, input.size(), uint32_t(frameChunkSize(c.fraction)), c.fraction, decoded, 0, {}),
                  Error::None);
        EXPECT_TRUE(decoded == input) << "read back";
    }
}

TEST(HuffmanEncode, CorpusStreamsAndFrameBodiesEqualTheReference) {
    if (std::string(KVN_CORPUS_DIR).empty()) GTEST_SKIP() << "no corpus folder configured (KVN_CORPUS_DIR)";
    for (const CorpusCase& c : kCorpus) {
        SCOPED_TRACE(std::string(c.file) + " at fraction " + std::to_string(c.fraction));
        expectCorpusStage(c);
    }
}

// lavapipe ends an invocation's loops after 65,535 iterations in all. The
// largest stream a sub-chunk holds, 131,072 symbols, costs a lane about
// 4,100 histogram and 4,130 encode iterations: coded in full and equal to
// the reference there. A stream of 2^21 symbols needs 65,536 histogram
// iterations a lane: lavapipe cuts it, and the stream comes back with every
// code length 0 and a coded size of 0 (written raw by the assembly), never
// with wrong bytes; the host runtime has no budget and codes it.
TEST(HuffmanEncode, LoopBudgetHoldsTheLargestSubChunkAndReportsACut) {
    // Symbol 8k + j with probability 2^-(k + 4): lengths from 4 past 11.
    const std::vector<uint8_t> noise = randomBytes(3 * KVN_SUBCHUNK_SIZE, 31);
    std::vector<uint8_t> largest(KVN_SUBCHUNK_SIZE);
    for (size_t i = 0; i < largest.size(); ++i) {
        const uint32_t v = noise[3 * i] | noise[3 * i + 1] << 8 | 0x10000u;
        largest[i] = uint8_t(8 * std::countr_zero(v) + (noise[3 * i + 2] & 7));
    }
    const std::vector<uint8_t> beyond = randomBytes(uint32_t(1) << 21, 32);
    std::vector<uint8_t> area = largest;
    area.insert(area.end(), beyond.begin(), beyond.end());
    area.resize(area.size() + 16);
    const std::vector<HuffEncodeDesc> descs = {
        {0, KVN_SUBCHUNK_SIZE, 1, 0, huffCapacity(KVN_SUBCHUNK_SIZE)},
        {KVN_SUBCHUNK_SIZE, uint32_t(beyond.size()), 1, huffCapacity(KVN_SUBCHUNK_SIZE), huffCapacity(uint32_t(beyond.size()))},
    };
    const ref::CodeLengths largest_lengths = ref::huffCodeLengths(largest.data(), KVN_SUBCHUNK_SIZE, 1);
    EXPECT_EQ(*std::max_element(largest_lengths.begin(), largest_lengths.end()), KVN_HUFF_MAX_CODE_LEN) << "the largest stream should reach the length limit";
    for (KernelBackend backend : kBackends) {
        SCOPED_TRACE(backendName(backend));
        KernelRig rig(backend);
        const HuffBatchResult got = runHuffBatch(rig, rig.buffer(area), descs);
        ASSERT_EQ(got.fault, "");
        expectReferenceStream(got, descs[0], 0, largest.data());
        if (backend == KernelBackend::Lavapipe) {
            EXPECT_EQ(got.sizes[1], 0u) << "a cut stream reports size 0";
            EXPECT_TRUE(std::all_of(got.lengths.begin() + 256, got.lengths.end(), [](uint8_t b) { return b == 0; }));
        } else {
            expectReferenceStream(got, descs[1], 1, beyond.data());
        }
    }
}

}  // namespace
}  // namespace kvn::test
