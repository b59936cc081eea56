// Frames from the GPU at levels 1 and 2 against the reference: the same bytes
// as the reference encoder's frame (so the GPU streams are the reference
// parse), restored by the reference decoder and by the library's own.
#include "core/dict/builtin_dictionary.h"
#include "core/encode/frame_geometry.h"
#include "core/format/compress_bound.h"
#include "core/format/frame_header.h"
#include "core/interface/backend.h"
#include "encode_test_support.h"
#include "reference/reference_codec.h"

#include <algorithm>

namespace kvn::test {
namespace {

struct Case {
    const char* what;
    Bytes input;
    float fraction = 0.0f;  // 0: the default
    bool dictionary = false;
    bool trailers = false;
};

std::vector<Case> cases() {
    Bytes distinct(4096);
    for (size_t i = 0; i < distinct.size(); ++i) distinct[i] = static_cast<uint8_t>((i * 167) ^ (i >> 8));
    Bytes runs;
    for (int k = 0; k < 40; ++k) {
        const Bytes run = repeated(997 + 300 * k, static_cast<uint8_t>('a' + k % 7));
        runs.insert(runs.end(), run.begin(), run.end());
    }
    const Bytes text = realFile("/usr/include/stdio.h", 300000);
    const Bytes header = realFile("/usr/include/vulkan/vulkan_core.h", 270000);
    return {
        {"empty", {}},
        {"1 byte", {42}},
        {"128 bytes", Bytes(text.begin(), text.begin() + 128), 0.0f, false, true},
        {"129 bytes of 'A'", repeated(129, 'A')},
        {"129 bytes of text", Bytes(text.begin(), text.begin() + 129)},
        {"all distinct", distinct},
        {"long runs", runs},
        {"65,536-byte sub-chunk", Bytes(text.begin(), text.begin() + 65536), 0.5f},
        {"65,537-byte sub-chunk", Bytes(text.begin(), text.begin() + 65537), 0.5f},
        {"fraction 0.25", text},
        {"fraction 0.5", text, 0.5f},
        {"fraction 1.0", header, 1.0f},
        {"dictionary", Bytes(text.begin(), text.begin() + 20000), 0.0f, true},
        {"checksum and Merkle root", header, 0.5f, false, true},
        {"incompressible chunks", randomBytes(150000, 7), 0.25f, false, true},
    };
}

// Where the GPU frame differs from the reference encoder's: every chunk
// record is either the reference's record or a stored record of the chunk's
// bytes. lavapipe ends an invocation's loops after 65,535 iterations, so a
// large match group's parse can be cut short; the kernel then reports the
// sub-chunk failed and the encoder stores that chunk raw (lossless), which the
// reference encoder, with no such limit, does not. Both frames carry the
// chunk-size table, so the records are found from it.
void expectRecordsCodedAsReferenceOrStored(const Bytes& frame, const Bytes& want, const Bytes& input,
                                           uint64_t chunk_size) {
    const uint64_t n = (input.size() + chunk_size - 1) / chunk_size;
    const FrameHeader h = parseFrameHeader(frame.data(), frame.size());
    ASSERT_EQ(h.error, Error::None);
    ASSERT_GE(frame.size(), 3 * n);
    ASSERT_GE(want.size(), 3 * n);
    auto entry = [n](const Bytes& f, uint64_t c) {
        const uint8_t* t = f.data() + f.size() - 3 * n + 3 * c;
        return uint64_t{t[0]} | uint64_t{t[1]} << 8 | uint64_t{t[2]} << 16;
    };
    uint64_t at = h.header_length + 8, want_at = at, stored = 0;
    for (uint64_t c = 0; c < n; ++c) {
        const uint64_t len = entry(frame, c), want_len = entry(want, c);
        ASSERT_LE(at + len, frame.size());
        ASSERT_LE(want_at + want_len, want.size());
        const Bytes record(frame.begin() + at, frame.begin() + at + len);
        if (record != Bytes(want.begin() + want_at, want.begin() + want_at + want_len)) {
            const uint64_t chunk_len = std::min<uint64_t>(chunk_size, input.size() - c * chunk_size);
            ASSERT_EQ(len, chunk_len + 2) << "chunk " << c << " is neither the reference's record nor stored";
            EXPECT_EQ(record[0], 0xD5) << "chunk " << c;
            EXPECT_TRUE(std::equal(input.begin() + c * chunk_size, input.begin() + c * chunk_size + chunk_len,
                                   record.begin() + 2))
                << "chunk " << c;
            ++stored;
        }
        at += len;
        want_at += want_len;
    }
    EXPECT_GT(stored, 0u) << "the frames differ outside the chunk records";
}

using RoundTripTest = EncodeTest;

TEST_F(RoundTripTest, GpuFramesAreTheReferenceFramesAndRoundTrip) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const BuiltinDictionary* dict = builtinDictionary(1);
    ASSERT_NE(dict, nullptr);
    for (const Case& c : cases()) {
        for (int level : {1, 2}) {
            SCOPED_TRACE(std::string(c.what) + " at level " + std::to_string(level));
            CompressOpts opts{};
            opts.level = level;
            opts.sc_group_size = c.fraction;
            opts.dict_id = c.dictionary ? 1 : 0;
            opts.content_checksum = c.trailers;
            opts.merkle_root = c.trailers;
            const Bytes frame = compressOk(c.input, opts);

            ref::EncodeOptions enc = ref::encodeOptionsForLevel(level, c.fraction ? c.fraction : 0.25f);
            ref::FrameOptions fo;
            fo.level_code = static_cast<uint8_t>(level);
            fo.checksum = fo.merkle_root = c.trailers;
            fo.chunk_table = true;
            ref::Dictionary ref_dict;
            if (c.dictionary) {
                enc.lz.dictionary = {dict->data, dict->data_length};
                fo.dict_id = 1;
                ref_dict = {dict->data, static_cast<uint32_t>(dict->data_length)};
            }
            const Bytes want = ref::compressFrame(c.input, enc, fo);
            if (frame != want) {
                const float fraction = c.fraction ? c.fraction : 0.25f;
                expectRecordsCodedAsReferenceOrStored(frame, want, c.input,
                                                      frameGeometry(c.input.size(), fraction).chunk);
            }

            const ref::DecodedFrame decoded = ref::decodeFrame(frame, ref_dict);
            EXPECT_EQ(decoded.error, Error::None);
            EXPECT_EQ(decoded.frame_len, frame.size());
            EXPECT_TRUE(decoded.bytes == c.input) << "the reference decoder restores the input";

            if (kDecodeKernels && backend().runDecodeJob) {
                // A destination of exactly the content size, guard bytes after it.
                Bytes back(c.input.size() + 64, 0xE5);
                uint64_t size = 0;
                DecompressOpts dopts{};
                ASSERT_EQ(kvnDecompressHost(handle_, frame.data(), frame.size(), back.data(), c.input.size(), &size,
                                            &dopts),
                          0u);
                EXPECT_TRUE(std::all_of(back.begin() + c.input.size(), back.end(), [](uint8_t b) { return b == 0xE5; }));
                back.resize(size);
                EXPECT_TRUE(back == c.input) << "the library's decoder restores the input";
            }
        }
    }
}

TEST_F(RoundTripTest, IncompressibleDataGivesRawChunkRecords) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = randomBytes(3 * 65536 + 100, 11);
    CompressOpts opts{};
    opts.chunk_table = -1;
    const Bytes frame = compressOk(input, opts);
    const FrameHeader h = parseFrameHeader(frame.data(), frame.size());
    ASSERT_EQ(h.error, Error::None);
    // Four raw records (header 0xD5 0x01, then the chunk's bytes), the three
    // later chunks' leading bytes and the end mark.
    uint64_t at = h.header_length + 8;
    for (uint64_t c = 0; c < 4; ++c) {
        const uint64_t len = std::min<uint64_t>(65536, input.size() - c * 65536);
        ASSERT_EQ(frame[at], 0xD5) << "chunk " << c;
        EXPECT_EQ(frame[at + 1], 0x01);
        EXPECT_TRUE(std::equal(input.begin() + c * 65536, input.begin() + c * 65536 + len, frame.begin() + at + 2));
        at += len + 2;
    }
    EXPECT_EQ(frame.size(), at + 3 * 8 + 4);
}

TEST_F(RoundTripTest, TimingsNameTheStages) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    CompressOpts opts{};
    opts.record_timings = 1;
    compressOk(realFile("/usr/include/stdio.h", 20000), opts);
    TimingEntry entries[8];
    uint64_t count = 0;
    ASSERT_EQ(kvnGetLastTimings(handle_, entries, 8, &count), 0u);
    ASSERT_EQ(count, 4u);
    const char* labels[] = {"kvnLzEncodeKernel", "kvnAssembleMeasureKernel", "kvnAssembleWriteKernel",
                            "kvnFrameAssembleKernel"};
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(entries[i].label, labels[i]);
}

}  // namespace
}  // namespace kvn::test

namespace kvn::test {
namespace {

// 1 KiB chunks of data that does not shrink make a frame longer than the
// compress bound: the frame size is checked against the destination before
// the frame assembly writes it, and the frame buffer holds the whole frame.
TEST_F(RoundTripTest, FramesAboveTheBoundAreCheckedBeforeTheyAreWritten) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = randomBytes(65536, 5);
    CompressOpts opts{};
    opts.sc_group_size = 0x1p-8f;
    const uint64_t bound = compressBound(input.size());
    const uint64_t frame_len = 22 + 8 + input.size() + 64 * (2 + 8) - 8 + 4;  // raw records, prefixes, end mark
    ASSERT_GT(frame_len, bound);
    Bytes out(frame_len, 0xEE);
    uint64_t size = 0;
    EXPECT_EQ(kvnCompressHost(handle_, input.data(), input.size(), out.data(), bound, &size, &opts), 3u);
    EXPECT_EQ(kvnCompressHost(handle_, input.data(), input.size(), out.data(), frame_len - 1, &size, &opts), 3u);
    ASSERT_EQ(kvnCompressHost(handle_, input.data(), input.size(), out.data(), frame_len, &size, &opts), 0u);
    EXPECT_EQ(size, frame_len);
    const ref::DecodedFrame decoded = ref::decodeFrame(out, {});
    EXPECT_EQ(decoded.error, Error::None);
    EXPECT_TRUE(decoded.bytes == input);
}

}  // namespace
}  // namespace kvn::test
