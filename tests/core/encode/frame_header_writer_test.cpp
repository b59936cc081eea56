#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/encode/frame_header_writer.h"
#include "core/format/frame_header.h"

namespace kvn {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kEmptyLevelOneHeader = {0x31, 0x4E, 0x56, 0x4B, 0x02, 0x01, 0x01, 0x01, 0x02, 0x00, 0x00, 0x80,
                                    0x3E, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};

Bytes written(const Bytes& buffer, WrittenBytes w) {
    EXPECT_EQ(w.error, Error::None);
    return Bytes(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(w.size));
}

TEST(FrameHeaderWriter, EmptyFrameIsPinnedByteForByte) {
    Bytes out(64, 0xAA);
    const WrittenBytes header = writeFrameHeader(out.data(), out.size(), FrameHeaderFields{});
    ASSERT_EQ(header.size, 22u);
    Bytes want = kEmptyLevelOneHeader;
    want.insert(want.end(), {0, 0, 0, 0});
    EXPECT_EQ(written(out, writeEmptyBody(out.data(), out.size(), header.size)), want);
}

TEST(FrameHeaderWriter, StoredFrameIsPinnedByteForByte) {
    Bytes input(128);
    std::iota(input.begin(), input.end(), uint8_t{0});
    Bytes out(200, 0xAA);
    FrameHeaderFields f;
    f.content_size = input.size();
    const WrittenBytes header = writeFrameHeader(out.data(), out.size(), f);
    Bytes want = kEmptyLevelOneHeader;
    want[14] = 128;
    want.insert(want.end(), {0x80, 0, 0, 0x80, 0x80, 0, 0, 0});
    want.insert(want.end(), input.begin(), input.end());
    want.insert(want.end(), {0, 0, 0, 0});
    EXPECT_EQ(written(out, writeStoredBody(out.data(), out.size(), header.size, input.data(), input.size())), want);
    EXPECT_EQ(want.size(), 22u + 8 + 128 + 4);
}

TEST(FrameHeaderWriter, OptionalFieldsFlagsAndCodes) {
    Bytes out(64);
    FrameHeaderFields f;
    f.level = 4;
    f.sc_group_size = 1.0f;
    f.content_size = 1000;
    f.use_dict = true;
    f.dict_id = 0x01020304;
    f.checksum = f.merkle = f.chunk_table = true;
    const WrittenBytes w = writeFrameHeader(out.data(), out.size(), f);
    ASSERT_EQ(w.size, 26u);
    const FrameHeader h = parseFrameHeader(out.data(), w.size);
    ASSERT_EQ(h.error, Error::None);
    EXPECT_EQ(h.level_code, 5) << "level 4 is written as 5";
    EXPECT_EQ(h.flags, kFrameContentSize | kFrameChecksum | kFrameDictId | kFrameMerkleRoot | kFrameChunkTable);
    EXPECT_EQ(h.dict_id, 0x01020304u);
    EXPECT_EQ(h.content_size, 1000u);
    EXPECT_EQ(h.sc_group_size, 1.0f);
    EXPECT_EQ(h.header_length, 26u);
}

TEST(FrameHeaderWriter, RefusesBeforeWritingAnything) {
    struct Case {
        const char* what;
        uint64_t cap;
        FrameHeaderFields fields;
    };
    FrameHeaderFields odd_block;
    odd_block.block_size = 3 << 16;
    FrameHeaderFields small_block;
    small_block.block_size = 32768;
    FrameHeaderFields huge_fraction;
    huge_fraction.sc_group_size = 65537.0f;
    const Case cases[] = {
        {"25 bytes even for an empty frame", 25, FrameHeaderFields{}},
        {"block size not a power of two", 64, odd_block},
        {"block size below 64 KiB", 64, small_block},
        {"fraction above 65536", 64, huge_fraction},
    };
    for (const Case& c : cases) {
        Bytes out(64, 0xAA);
        const WrittenBytes w = writeFrameHeader(out.data(), c.cap, c.fields);
        EXPECT_EQ(w.error, Error::DestinationTooSmall) << c.what;
        EXPECT_EQ(out, Bytes(64, 0xAA)) << c.what;
    }
}

TEST(FrameHeaderWriter, BodiesNeedTheirRoom) {
    Bytes out(200);
    const uint8_t input[128] = {};
    EXPECT_EQ(writeEmptyBody(out.data(), 25, 22).error, Error::DestinationTooSmall);
    EXPECT_EQ(writeEmptyBody(out.data(), 26, 22).size, 26u);
    EXPECT_EQ(writeStoredBody(out.data(), 22 + 128 + 11, 22, input, 128).error, Error::DestinationTooSmall);
    EXPECT_EQ(writeStoredBody(out.data(), 22 + 128 + 12, 22, input, 128).size, 22u + 128 + 12);
    EXPECT_EQ(writeStoredBody(out.data(), UINT64_MAX, 22, input, uint64_t{1} << 30).error, Error::ContentSizeTooLarge);
}

}  // namespace
}  // namespace kvn
