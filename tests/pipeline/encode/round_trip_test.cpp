// Frames from the GPU at levels 1 to 4 against the reference: the same bytes
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

using RoundTripTest = EncodeTest;

TEST_F(RoundTripTest, GpuFramesAreTheReferenceFramesAndRoundTrip) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    for (const Case& c : cases()) {
        for (int level : {1, 2, 3, 4}) {
            SCOPED_TRACE(std::string(c.what) + " at level " + std::to_string(level));
            CompressOpts opts{};
            opts.level = level;
            opts.sc_group_size = c.fraction;
            opts.dict_id = c.dictionary ? 1 : 0;
            opts.content_checksum = c.trailers;
            opts.merkle_root = c.trailers;
            const Bytes frame = compressOk(c.input, opts);
            EXPECT_TRUE(frame == referenceFrame(c.input, opts)) << "the GPU frame is the reference encoder's";
            expectDecodersRestore(handle_, frame, c.input, opts);
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
// the frame assembly writes it, a smaller destination gets the stored frame,
// and the frame buffer holds the whole coded frame.
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
    const uint64_t stored_len = 22 + 8 + input.size() + 4;
    for (uint64_t cap : {bound, frame_len - 1}) {
        ASSERT_EQ(kvnCompressHost(handle_, input.data(), input.size(), out.data(), cap, &size, &opts), 0u);
        EXPECT_EQ(size, stored_len);
        EXPECT_TRUE(Bytes(out.begin() + 30, out.begin() + 30 + input.size()) == input);
    }
    EXPECT_EQ(kvnCompressHost(handle_, input.data(), input.size(), out.data(), stored_len - 1, &size, &opts), 3u);
    ASSERT_EQ(kvnCompressHost(handle_, input.data(), input.size(), out.data(), frame_len, &size, &opts), 0u);
    EXPECT_EQ(size, frame_len);
    const ref::DecodedFrame decoded = ref::decodeFrame(out, {});
    EXPECT_EQ(decoded.error, Error::None);
    EXPECT_TRUE(decoded.bytes == input);
}

}  // namespace
}  // namespace kvn::test
