// The assembly kernels after the LZ kernels: the frame body they write must
// equal the reference encoder's block (levels 1 and 2 write raw streams),
// chunk records compressed or raw, with the chunk-size table entries; the
// coded-stream forms against the reference sub-chunk writer; LZ outputs that
// cannot be walked.
#include <gtest/gtest.h>

#include <functional>

#include "core/format/chunk_test_data.h"
#include "encode_rig.h"

namespace kvn::test {
namespace {

constexpr KernelBackend kBackends[] = {KernelBackend::Host, KernelBackend::Lavapipe};

void appendLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

struct BlockCase {
    const char* name;
    std::function<std::vector<uint8_t>()> input;
    float fraction;
    int level;
    bool dictionary = false;
};

// Frame = head (a stand-in frame header and the block header), the block
// payload, the u32 end mark.
void expectReferenceBlock(const BlockCase& c) {
    const std::vector<uint8_t> input = c.input();
    const std::vector<uint8_t> dict = c.dictionary ? machineText(30000) : std::vector<uint8_t>{};
    ref::EncodeOptions options = ref::encodeOptionsForLevel(c.level, c.fraction);
    options.lz.dictionary = dict;
    const ref::EncodedBlock block = ref::encodeBlock(input, options);

    std::vector<uint8_t> head = {'K', 'V', 'N', '1', 2, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    appendLe32(head, uint32_t(block.payload.size()));
    appendLe32(head, uint32_t(input.size()));
    std::vector<uint8_t> want = head;
    want.insert(want.end(), block.payload.begin(), block.payload.end());
    appendLe32(want, 0);

    const FrameGeometry frame = planFrame(input.size(), c.fraction);
    for (KernelBackend backend : kBackends) {
        SCOPED_TRACE(backendName(backend));
        KernelRig rig(backend);
        const LzResult lz = runLzKernel(rig, input, frame, {"kvnLzEncodeGreedyKernel", options.lz});
        ASSERT_EQ(lz.fault, "");
        const AssembledFrame got = assembleFrame(rig, input, frame, lz, head);
        ASSERT_EQ(got.fault, "");
        EXPECT_EQ(got.record_sizes, block.record_sizes);
        ASSERT_EQ(got.frame.size(), want.size());
        const auto diff = std::mismatch(want.begin(), want.end(), got.frame.begin());
        EXPECT_TRUE(diff.first == want.end()) << "differs at byte " << (diff.first - want.begin());
    }
}

std::vector<uint8_t> textThenNoise(size_t n) {
    std::vector<uint8_t> out = machineText(n);
    const std::vector<uint8_t> noise = randomBytes(70000, 11);
    std::copy(noise.begin(), noise.end(), out.begin() + 65536);
    return out;
}

const BlockCase kBlockCases[] = {
    {"TextQuarterChunks", [] { return machineText(200000); }, 0.25f, 1},
    {"TextHalfChunksLevel2", [] { return machineText(150000); }, 0.5f, 2},
    {"TextWithNoiseChunk", [] { return textThenNoise(200000); }, 0.25f, 2},
    {"Incompressible", [] { return randomBytes(100000, 4); }, 0.25f, 1},
    {"WholeChunksFarRepeats", [] { return repetitiveBytes(300000, 8); }, 1.0f, 2},
    {"LastChunkOfFiveBytes", [] { return machineText(2 * 65536 + 5); }, 0.25f, 1},
    {"Dictionary", [] { return machineText(90000); }, 0.25f, 1, true},
};

// One test for the table (each test program compiles the modules on lavapipe).
TEST(Assemble, FrameBodyEqualsTheReferenceBlockOnEveryInput) {
    for (const BlockCase& c : kBlockCases) {
        SCOPED_TRACE(c.name);
        expectReferenceBlock(c);
    }
}

// Incompressible data gives raw records: header 0xD5 0x01 and the chunk's
// bytes, length + 2 in the chunk-size table.
TEST(Assemble, IncompressibleChunksAreRawRecords) {
    const std::vector<uint8_t> input = randomBytes(3 * 65536 + 100, 21);
    const FrameGeometry frame = planFrame(input.size(), 0.25f);
    KernelRig rig(KernelBackend::Lavapipe);
    const LzResult lz = runLzKernel(rig, input, frame, {"kvnLzEncodeGreedyKernel", ref::encodeOptionsForLevel(1, 0.25f).lz});
    const AssembledFrame got = assembleFrame(rig, input, frame, lz, {});
    ASSERT_EQ(got.fault, "");
    EXPECT_EQ(got.record_sizes, (std::vector<uint32_t>{65538, 65538, 65538, 102}));
    size_t at = 0;
    for (uint32_t c = 0; c < 4; ++c) {
        EXPECT_EQ(got.frame[at], KVN_CHUNK_HDR0_STORED_WRITTEN);
        EXPECT_EQ(got.frame[at + 1], KVN_CHUNK_HDR1_WRITTEN);
        EXPECT_TRUE(std::equal(input.begin() + c * 65536, input.begin() + std::min<size_t>(input.size(), (c + 1) * 65536),
                               got.frame.begin() + at + 2));
        at += got.record_sizes[c];
    }
}

// 129 bytes of 'A' at level 1 (the LZ output of the hand-worked case in
// lz_encode_test.cpp): one compressed record holding one sub-chunk whose
// body is that LZ output unchanged, since every stream is raw.
TEST(Assemble, A129AtLevelOneByHand) {
    std::vector<uint8_t> want = {0x55, 0x01, 25, 0, 0, 0, 0x88, 0x00, 23};
    const std::vector<uint8_t> lz_output = {'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 0, 0, 0, 0, 0, 1, 1,
                                            1,   0,   8,   0,   0,   0,   0,   30};
    want.insert(want.end(), lz_output.begin(), lz_output.end());
    appendLe32(want, 0);  // end mark
    const std::vector<uint8_t> input(129, 'A');
    EXPECT_EQ(std::vector<uint8_t>(want.begin(), want.end() - 4),
              ref::encodeBlock(input, ref::encodeOptionsForLevel(1, 0.25f)).payload);
    const FrameGeometry frame = planFrame(input.size(), 0.25f);
    for (KernelBackend backend : kBackends) {
        KernelRig rig(backend);
        const LzResult lz = runLzKernel(rig, input, frame, {"kvnLzEncodeGreedyKernel", ref::encodeOptionsForLevel(1, 0.25f).lz});
        const AssembledFrame got = assembleFrame(rig, input, frame, lz, {});
        ASSERT_EQ(got.fault, "");
        EXPECT_EQ(got.frame, want) << backendName(backend);
        EXPECT_EQ(got.record_sizes, std::vector<uint32_t>{32});
    }
}

// Coded streams (as the Huffman stage leaves them): each stream is written
// coded only where that is smaller, off16 halves split only when the two
// halves together beat the raw entries; the encoded sub-chunks must equal the
// reference writer's with Huffman on.
TEST(Assemble, CodedStreamsFollowTheReferenceWriter) {
    std::vector<uint8_t> input = machineText(140000);
    const std::vector<uint8_t> noise = randomBytes(2000, 5);
    std::copy(noise.begin(), noise.end(), input.begin() + 70000);
    const FrameGeometry frame = planFrame(input.size(), 0.5f);  // sub-chunks above 65,536 bytes
    const ref::LzParams params = ref::encodeOptionsForLevel(3, 0.5f).lz;
    std::vector<ref::SubChunkStreams> streams = referenceStreams(input, frame, params);
    for (KernelBackend backend : kBackends) {
        SCOPED_TRACE(backendName(backend));
        KernelRig rig(backend);
        const LzResult lz = runLzKernel(rig, input, frame, {"kvnLzEncodeGreedyKernel", params});
        ASSERT_EQ(lz.fault, "");
        std::vector<AssembleRecord> records = assembleRecords(frame, lz.sizes);
        std::vector<uint8_t> lit, tok, off16;
        auto place = [](std::vector<uint8_t>& buffer, const std::vector<uint8_t>& coded, uint32_t& off, uint32_t& size) {
            off = uint32_t(buffer.size());
            size = uint32_t(coded.size());
            buffer.insert(buffer.end(), coded.begin(), coded.end());
            buffer.resize((buffer.size() + 3) & ~size_t(3));
        };
        for (size_t i = 0; i < streams.size(); ++i) {
            const ref::SubChunkStreams& s = streams[i];
            AssembleRecord& r = records[i];
            place(lit, ref::huffEncode(s.literals.data(), uint32_t(s.literals.size()), 1), r.lit_off, r.lit_size);
            place(tok, ref::huffEncode(s.tokens.data(), uint32_t(s.tokens.size()), 1), r.tok_off, r.tok_size);
            if (s.off16.size() >= 32) {
                const auto* bytes = reinterpret_cast<const uint8_t*>(s.off16.data());
                const uint32_t n = uint32_t(s.off16.size());
                place(off16, ref::huffEncode(bytes + 1, n, 2), r.off16_hi_off, r.off16_hi_size);
                place(off16, ref::huffEncode(bytes, n, 2), r.off16_lo_off, r.off16_lo_size);
            }
        }
        for (std::vector<uint8_t>* b : {&lit, &tok, &off16}) b->resize(b->size() + 16);
        const uint32_t aw = uint32_t(records.size());
        const uint32_t record_buffer = rig.bufferOf(records), sizes = rig.buffer(aw * 4);
        const uint32_t lit_b = rig.buffer(lit), tok_b = rig.buffer(tok), off16_b = rig.buffer(off16);
        ASSERT_EQ(rig.launch("kvnAssembleMeasureKernel", {aw},
                             {rigBuffer(lz.lz_buffer), rigBuffer(lit_b), rigBuffer(tok_b), rigBuffer(off16_b),
                              rigBuffer(record_buffer), rigBuffer(sizes), rigU32(aw)}),
                  "");
        const std::vector<uint32_t> measured = rig.readAs<uint32_t>(sizes);
        uint32_t total = 0;
        std::vector<std::vector<uint8_t>> want;
        for (uint32_t i = 0; i < aw; ++i) {
            want.push_back(ref::encodeSubChunk(streams[i], true));
            EXPECT_EQ(measured[i] + 3, want[i].size()) << i;
            records[i].out_off = total;
            total += measured[i] + 3;
        }
        rig.write(record_buffer, std::span(reinterpret_cast<const uint8_t*>(records.data()), aw * sizeof(AssembleRecord)));
        const uint32_t assembled = rig.buffer(total);
        ASSERT_EQ(rig.launch("kvnAssembleWriteKernel", {aw},
                             {rigBuffer(lz.lz_buffer), rigBuffer(lit_b), rigBuffer(tok_b), rigBuffer(off16_b),
                              rigBuffer(record_buffer), rigBuffer(assembled), rigU32(aw)}),
                  "");
        const std::vector<uint8_t> got = rig.read(assembled);
        uint32_t split = 0;
        for (uint32_t i = 0; i < aw; ++i) {
            const std::vector<uint8_t> plain = ref::encodeSubChunk(streams[i], false);
            EXPECT_LT(want[i].size(), plain.size()) << "coding saves bytes in sub-chunk " << i;
            const uint32_t n16 = uint32_t(streams[i].off16.size());
            auto half = [&](uint32_t coded) { return coded != 0 && coded + 2 < n16 ? coded + 5 : n16 + 3; };
            split += n16 >= 32 && half(records[i].off16_hi_size) + half(records[i].off16_lo_size) < 2 * n16;
        }
        EXPECT_GT(split, 0u) << "no sub-chunk took the split off16 form";
        for (uint32_t i = 0; i < aw; ++i)
            EXPECT_TRUE(std::equal(want[i].begin(), want[i].end(), got.begin() + records[i].out_off)) << i;
    }
}

// LZ outputs that cannot be walked measure 0 and are written as a bare
// header 0x880000.
TEST(Assemble, UnwalkableLzOutputs) {
    struct Bad {
        const char* what;
        std::vector<uint8_t> lz;
        uint32_t prefix;
    };
    const std::vector<Bad> cases = {
        {"shorter than the prefix", {1, 2, 3}, 8},
        {"literal count past the end", {0, 0, 9, 1, 2}, 0},
        {"token count past the end", {0, 0, 1, 'x', 0, 0, 5, 1, 0, 0, 0, 0, 0}, 0},
        {"off16 entries past the end", {0, 0, 0, 0, 0, 0, 3, 0, 1, 0, 0, 0, 0}, 0},
        {"off32 entries past the end", {0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 1, 2, 3, 4}, 0},
        {"four-byte off32 entry cut", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 1, 2, 0xC0}, 0},
    };
    for (KernelBackend backend : kBackends) {
        KernelRig rig(backend);
        for (const Bad& c : cases) {
            std::vector<uint8_t> lz = c.lz;
            lz.resize(64, 0);
            AssembleRecord r{};
            r.lz_size = uint32_t(c.lz.size());
            r.raw_len = 1000;
            r.prefix_len = c.prefix;
            const uint32_t lz_b = rig.buffer(lz), rec = rig.bufferOf(std::vector<AssembleRecord>{r});
            const uint32_t sizes = rig.buffer(4, 0xAB), out = rig.buffer(8, 0xEE);
            ASSERT_EQ(rig.launch("kvnAssembleMeasureKernel", {1},
                                 {rigBuffer(lz_b), rigBuffer(lz_b), rigBuffer(lz_b), rigBuffer(lz_b), rigBuffer(rec),
                                  rigBuffer(sizes), rigU32(1)}),
                      "");
            EXPECT_EQ(rig.readAs<uint32_t>(sizes)[0], 0u) << c.what << " " << backendName(backend);
            ASSERT_EQ(rig.launch("kvnAssembleWriteKernel", {1},
                                 {rigBuffer(lz_b), rigBuffer(lz_b), rigBuffer(lz_b), rigBuffer(lz_b), rigBuffer(rec),
                                  rigBuffer(out), rigU32(1)}),
                      "");
            EXPECT_EQ(rig.read(out), (std::vector<uint8_t>{0x88, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE})) << c.what;
        }
    }
}

}  // namespace
}  // namespace kvn::test
