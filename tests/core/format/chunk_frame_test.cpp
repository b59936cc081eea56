// Frames from the frame builder through the reference decoder: the exact
// bytes of the simplest frames, and a table of damaged frames.
#include <gtest/gtest.h>

#include <functional>

#include "chunk_test_data.h"
#include "core/format/frame_header.h"
#include "reference/reference_codec.h"

namespace kvn {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(FrameBuilder, EmptyInputFrameBytes) {
    const Bytes frame = ref::compressFrame({}, {}, {});
    const Bytes expect = {0x31, 0x4E, 0x56, 0x4B, 0x02, 0x01, 0x01, 0x01, 0x02, 0x00, 0x00, 0x80, 0x3E,
                          0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(frame, expect);
    const auto decoded = ref::decodeFrame(frame, {});
    EXPECT_EQ(decoded.error, Error::None);
    EXPECT_TRUE(decoded.bytes.empty());
}

TEST(FrameBuilder, SmallInputIsOneStoredBlock) {
    const Bytes input = test::machineText(128);
    ref::FrameOptions opts;
    opts.chunk_table = true;  // not written for a stored frame
    const Bytes frame = ref::compressFrame(input, {}, opts);
    ASSERT_EQ(frame.size(), 22u + 8 + 128 + 4);
    EXPECT_EQ(frame[5], kFrameContentSize);
    EXPECT_EQ(Bytes(frame.begin() + 22, frame.begin() + 30), (Bytes{128, 0, 0, 0x80, 128, 0, 0, 0}));
    EXPECT_EQ(ref::decodeFrame(frame, {}).bytes, input);
}

TEST(FrameBuilder, SkipBlockContributesNothing) {
    const Bytes a = test::randomBytes(50, 1), b = test::randomBytes(60, 2), junk(33, 0x77);
    Bytes content = a;
    content.insert(content.end(), b.begin(), b.end());
    ref::FrameOptions opts;
    opts.checksum = opts.merkle_root = true;
    const Bytes frame = ref::FrameBuilder(opts).storedBlock(a).skipBlock(junk).storedBlock(b).finish(content);
    const auto decoded = ref::decodeFrame(frame, {});
    EXPECT_EQ(decoded.error, Error::None);
    EXPECT_EQ(decoded.bytes, content);
    EXPECT_EQ(decoded.frame_len, frame.size());
}

// A coded frame with every trailer, then one damage per case.
struct Damage {
    const char* name;
    std::function<void(Bytes& frame, const ref::FrameBuilder& builder)> apply;
    Error expected;
};

class DamagedFrame : public testing::TestWithParam<Damage> {};

TEST_P(DamagedFrame, IsRefused) {
    const Bytes input = test::machineText(300000);
    ref::EncodeOptions enc;
    enc.huffman = true;
    ref::FrameOptions opts;
    opts.checksum = opts.merkle_root = opts.chunk_table = true;
    opts.sc_group_size = enc.sc_group_size;
    opts.level_code = 3;
    ref::FrameBuilder builder(opts);
    builder.codedBlock(ref::encodeBlock(input, enc));
    Bytes frame = builder.finish(input);
    ASSERT_EQ(ref::decodeFrame(frame, {}).error, Error::None);
    GetParam().apply(frame, builder);
    EXPECT_EQ(ref::decodeFrame(frame, {}).error, GetParam().expected);
}

// Offsets: block header at builder.blockOffset(0), payload 8 bytes later.
const Damage kDamages[] = {
    {"BadMagic", [](Bytes& f, auto&) { f[0] ^= 1; }, Error::BadMagic},
    {"ChecksumWrong", [](Bytes& f, auto&) { f[f.size() - 8] ^= 1; }, Error::ChecksumMismatch},
    {"MerkleRootWrong", [](Bytes& f, auto&) { f[f.size() - 1] ^= 1; }, Error::ChecksumMismatch},
    {"TrailersMissing", [](Bytes& f, auto&) { f.resize(f.size() - 8); }, Error::Truncated},
    {"ContentSizeWrong", [](Bytes& f, auto&) { f[14] ^= 1; }, Error::SizeMismatch},
    {"BlockCut", [](Bytes& f, const auto& b) { f.resize(b.blockOffset(0) + 1000); },
     Error::BlockDataTruncated},
    {"BlockHeaderCut", [](Bytes& f, const auto& b) { f.resize(b.blockOffset(0) + 6); },
     Error::InvalidBlockHeader},
    {"ChunkHeaderNibble", [](Bytes& f, const auto& b) { f[b.blockOffset(0) + 8] = 0x54; },
     Error::InvalidInternalHeader},
    {"ChunkModeThree", [](Bytes& f, const auto& b) { f[b.blockOffset(0) + 12] |= 0x0C; },
     Error::BadChunkHeader},
    // Damage inside coded streams is not refused by the decode itself: the
    // checksum catches what it does to the output.
    {"StreamBytesFlipped", [](Bytes& f, const auto& b) { f[b.blockOffset(0) + 5000] ^= 0x5A; },
     Error::ChecksumMismatch},
    {"SubChunkHeaderInvalid", [](Bytes& f, const auto& b) { f[b.blockOffset(0) + 14] &= 0x7F; },
     Error::ChecksumMismatch},
};

INSTANTIATE_TEST_SUITE_P(Table, DamagedFrame, testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvn
