#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/format/frame_header.h"
#include "frame_builder.h"

namespace kvn {
namespace {

using test::Bytes;
using test::frameHeaderBytes;
using test::HeaderFields;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(FrameHeader, ReadsTheEmptyLevelOneFrame) {
    const Bytes frame = {0x31, 0x4E, 0x56, 0x4B, 0x02, 0x01, 0x01, 0x01, 0x02, 0x00, 0x00, 0x80, 0x3E, 0x00,
                         0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const FrameHeader h = parseFrameHeader(frame.data(), frame.size());
    ASSERT_EQ(h.error, Error::None);
    EXPECT_EQ(h.header_length, 22u);
    EXPECT_TRUE(h.has_content_size);
    EXPECT_EQ(h.content_size, 0u);
    EXPECT_EQ(h.block_size, 262144u);
    EXPECT_EQ(h.sc_group_size, 0.25f);
    EXPECT_EQ(h.codec, 1);
    EXPECT_EQ(h.level_code, 1);
    EXPECT_FALSE(h.has_checksum || h.has_merkle_root || h.has_chunk_table || h.has_dict_id);
}

TEST(FrameHeader, ReadsEveryOptionalField) {
    HeaderFields f;
    f.flags = kFrameContentSize | kFrameDictId | kFrameWrtSection | kFrameChecksum | kFrameMerkleRoot |
              kFrameChunkTable | 0x04 | 0x10;
    f.content_size = 123456789;
    f.dict_id = 7;
    f.wrt_length = 40;
    f.block_size_code = 6;
    f.byte_plane_stride = 28;
    f.codec = 2;
    f.level_code = 6;
    const Bytes bytes = frameHeaderBytes(f);
    const FrameHeader h = parseFrameHeader(bytes.data(), bytes.size());
    ASSERT_EQ(h.error, Error::None);
    EXPECT_EQ(h.content_size, 123456789u);
    EXPECT_EQ(h.dict_id, 7u);
    EXPECT_TRUE(h.has_dict_id);
    EXPECT_EQ(h.wrt_section_offset, 14u + 8 + 4 + 4);
    EXPECT_EQ(h.wrt_section_length, 40u);
    EXPECT_EQ(h.header_length, 14u + 8 + 4 + 4 + 40);
    EXPECT_EQ(h.block_size, 4u << 20);
    EXPECT_EQ(h.byte_plane_stride, 28);
    EXPECT_EQ(h.flags, f.flags);
    EXPECT_TRUE(h.has_checksum && h.has_merkle_root && h.has_chunk_table);
}

bool allFieldsZero(const FrameHeader& h) {
    return h.content_size == 0 && !h.has_content_size && h.wrt_section_offset == 0 && h.wrt_section_length == 0 &&
           h.header_length == 0 && h.block_size == 0 && h.sc_group_size == 0 && h.dict_id == 0 && !h.has_dict_id &&
           h.version == 0 && h.flags == 0 && h.codec == 0 && h.level_code == 0 && !h.has_checksum &&
           !h.has_merkle_root && !h.has_chunk_table && h.byte_plane_stride == 0;
}

// Each refusal alone, and that a refused header leaves every field zero.
TEST(FrameHeader, RefusalTable) {
    struct Case {
        const char* what;
        HeaderFields fields;
        uint64_t keep;  // bytes handed to the reader; 0: all
        Error want;
    };
    auto with = [](auto change) {
        HeaderFields f;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"13 bytes", with([](HeaderFields& f) { f.flags = 0; }), 13, Error::Truncated},
        {"14 bytes with content size", {}, 14, Error::Truncated},
        {"21 bytes with content size", {}, 21, Error::Truncated},
        {"version 1", with([](HeaderFields& f) { f.version = 1; }), 0, Error::UnsupportedVersion},
        {"version 3", with([](HeaderFields& f) { f.version = 3; }), 0, Error::UnsupportedVersion},
        {"codec 3", with([](HeaderFields& f) { f.codec = 3; }), 0, Error::BadCodec},
        {"block code 7", with([](HeaderFields& f) { f.block_size_code = 7; }), 0, Error::BadBlockSize},
        {"stride 5", with([](HeaderFields& f) { f.byte_plane_stride = 5; }), 0, Error::UnsupportedVersion},
        {"stride 1", with([](HeaderFields& f) { f.byte_plane_stride = 1; }), 0, Error::UnsupportedVersion},
        {"stride 64", with([](HeaderFields& f) { f.byte_plane_stride = 64; }), 0, Error::UnsupportedVersion},
        {"sc 2^-19", with([](HeaderFields& f) { f.sc_group_size = std::ldexp(1.0f, -19); }), 0,
         Error::BadScGroupSize},
        {"sc 0", with([](HeaderFields& f) { f.sc_group_size = 0.0f; }), 0, Error::BadScGroupSize},
        {"sc -0", with([](HeaderFields& f) { f.sc_group_size = -0.0f; }), 0, Error::BadScGroupSize},
        {"sc -0.25", with([](HeaderFields& f) { f.sc_group_size = -0.25f; }), 0, Error::BadScGroupSize},
        {"sc inf", with([](HeaderFields& f) { f.sc_group_size = kInf; }), 0, Error::BadScGroupSize},
        {"sc -inf", with([](HeaderFields& f) { f.sc_group_size = -kInf; }), 0, Error::BadScGroupSize},
        {"sc NaN", with([](HeaderFields& f) { f.sc_group_size = kNaN; }), 0, Error::BadScGroupSize},
        {"sc 65536.5", with([](HeaderFields& f) { f.sc_group_size = 65536.5f; }), 0, Error::BadScGroupSize},
        {"negative content size", with([](HeaderFields& f) { f.content_size = uint64_t{1} << 63; }), 0,
         Error::BadContentSize},
        {"no room for dict id", with([](HeaderFields& f) { f.flags |= kFrameDictId; }), 25, Error::Truncated},
        {"no room for WRT length", with([](HeaderFields& f) { f.flags = kFrameWrtSection; }), 17,
         Error::Truncated},
        {"WRT length 15", with([](HeaderFields& f) { f.flags = kFrameWrtSection; f.wrt_length = 15; }), 0,
         Error::Truncated},
        {"WRT length 0x4000001",
         with([](HeaderFields& f) { f.flags = kFrameWrtSection; f.wrt_length = 0x4000001; }), 18,
         Error::Truncated},
    };
    for (const Case& c : cases) {
        const Bytes bytes = frameHeaderBytes(c.fields);
        const uint64_t available = c.keep ? c.keep : bytes.size();
        ASSERT_LE(available, bytes.size()) << c.what;
        const FrameHeader h = parseFrameHeader(bytes.data(), available);
        EXPECT_EQ(h.error, c.want) << c.what;
        EXPECT_TRUE(allFieldsZero(h)) << c.what;
    }

    Bytes bad_magic = frameHeaderBytes({});
    bad_magic[3] = 0x4C;
    EXPECT_EQ(parseFrameHeader(bad_magic.data(), bad_magic.size()).error, Error::BadMagic);
}

// A header with every fault at once reports them in check order as each is mended.
TEST(FrameHeader, ChecksRunInOrder) {
    HeaderFields f;
    f.flags = kFrameContentSize | kFrameDictId | kFrameWrtSection;
    f.version = 9;
    f.codec = 9;
    f.block_size_code = 9;
    f.byte_plane_stride = 9;
    f.sc_group_size = kNaN;
    f.content_size = ~uint64_t{0};
    f.wrt_length = 3;
    Bytes bytes = frameHeaderBytes(f);
    bytes[0] ^= 0xFF;
    EXPECT_EQ(parseFrameHeader(bytes.data(), 13).error, Error::Truncated);
    EXPECT_EQ(parseFrameHeader(bytes.data(), bytes.size()).error, Error::BadMagic);

    const struct {
        void (*mend)(HeaderFields&);
        Error next;
    } steps[] = {
        {[](HeaderFields&) {}, Error::UnsupportedVersion},  // the magic is mended by rebuilding
        {[](HeaderFields& h) { h.version = kFrameVersion; }, Error::BadCodec},
        {[](HeaderFields& h) { h.codec = 0; }, Error::BadBlockSize},
        {[](HeaderFields& h) { h.block_size_code = 0; }, Error::UnsupportedVersion},
        {[](HeaderFields& h) { h.byte_plane_stride = 0; }, Error::BadScGroupSize},
        {[](HeaderFields& h) { h.sc_group_size = 1.0f; }, Error::BadContentSize},
        {[](HeaderFields& h) { h.content_size = 5; }, Error::Truncated},  // the WRT length
        {[](HeaderFields& h) { h.wrt_length = 16; }, Error::None},
    };
    for (const auto& step : steps) {
        step.mend(f);
        bytes = frameHeaderBytes(f);
        EXPECT_EQ(parseFrameHeader(bytes.data(), bytes.size()).error, step.next) << errorName(step.next);
    }
}

TEST(FrameHeader, WrtSectionMayLieBeyondTheBytesGiven) {
    HeaderFields f;
    f.flags = kFrameWrtSection;
    f.wrt_length = 0x4000000;
    const Bytes bytes = frameHeaderBytes(f);
    const FrameHeader h = parseFrameHeader(bytes.data(), 18);  // up to the length field only
    ASSERT_EQ(h.error, Error::None);
    EXPECT_EQ(h.wrt_section_offset, 18u);
    EXPECT_EQ(h.header_length, 18u + 0x4000000);
}

TEST(FrameHeader, ChunkFraction) {
    const struct {
        float sc;
        uint64_t chunk;  // 0: refused
    } cases[] = {
        {std::ldexp(1.0f, -18), 1}, {0.25f, 65536},  {0.5f, 131072},   {1.0f, 262144},
        {4.0f, 262144},             {65536, 262144}, {1e-5f, 2},       {std::ldexp(1.0f, -19), 0},
        {0.0f, 0},                  {-0.0f, 0},      {65536.5f, 0},    {kNaN, 0},
        {kInf, 0},                  {-1.0f, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(validScGroupSize(c.sc), c.chunk != 0) << c.sc;
        EXPECT_EQ(frameChunkSize(c.sc), c.chunk) << c.sc;
    }
}

TEST(FrameHeader, ByteplaneStrides) {
    int accepted = 0;
    for (int stride = -1; stride <= 64; ++stride) {
        const bool listed = stride == 2 || stride == 3 || stride == 4 || stride == 6 || stride == 8 ||
                            stride == 12 || stride == 16 || stride == 24 || stride == 28 || stride == 32;
        EXPECT_EQ(validByteplaneStride(stride), listed) << stride;
        accepted += listed;
    }
    EXPECT_EQ(accepted, 10);
}

}  // namespace
}  // namespace kvn
