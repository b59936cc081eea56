#include <gtest/gtest.h>

#include "core/format/frame_walk.h"
#include "frame_builder.h"

namespace kvn {
namespace {

using test::appendBlock;
using test::appendLe32;
using test::Bytes;
using test::frameHeaderBytes;
using test::HeaderFields;

constexpr uint64_t kHeader = 22;  // fixed header + content size
const Bytes kPayload10(10, 0xAB);

Bytes header(uint8_t flags = kFrameContentSize) {
    HeaderFields f;
    f.flags = flags;
    return frameHeaderBytes(f);
}

TEST(BlockHeader, SplitsTheWord) {
    Bytes bytes;
    appendLe32(bytes, kBlockStored | kBlockSkip | 0x3FFFFFFF);
    appendLe32(bytes, 0xDEADBEEF);
    const BlockHeader b = readBlockHeader(bytes.data());
    EXPECT_EQ(b.payload_length, 0x3FFFFFFFu);
    EXPECT_EQ(b.raw_size, 0xDEADBEEFu);
    EXPECT_TRUE(b.skip);
    EXPECT_TRUE(b.stored);
    EXPECT_FALSE(endsFrame(b));
    EXPECT_TRUE(endsFrame(readBlockHeader(Bytes{0, 0, 0, 0x80, 5, 0, 0, 0}.data())));
    EXPECT_FALSE(endsFrame(readBlockHeader(Bytes{0, 0, 0, 0xC0, 5, 0, 0, 0}.data())));  // skip of nothing
}

TEST(FrameWalk, Cases) {
    struct Case {
        const char* what;
        Bytes frame;
        uint64_t length;  // when error is None
        Error error;
    };
    auto frame = [](uint8_t flags, auto body) {
        Bytes f = header(flags);
        body(f);
        return f;
    };
    const uint8_t plain = kFrameContentSize;
    const Case cases[] = {
        {"end mark only", frame(plain, [](Bytes& f) { appendLe32(f, 0); }), kHeader + 4, Error::None},
        {"stored block then end mark",
         frame(plain, [](Bytes& f) { appendBlock(f, kBlockStored | 10, 10, kPayload10); appendLe32(f, 0); }),
         kHeader + 18 + 4, Error::None},
        {"stored empty block terminates",
         frame(plain, [](Bytes& f) { appendBlock(f, kBlockStored, 0, {}); appendLe32(f, 0x12345678); }),
         kHeader + 8, Error::None},
        {"no body", header(), kHeader, Error::None},
        {"3-byte tail after a block",
         frame(plain, [](Bytes& f) { appendBlock(f, 10, 99, kPayload10); f.insert(f.end(), {1, 2, 3}); }),
         kHeader + 18, Error::None},
        {"3-byte tail before any block", frame(plain, [](Bytes& f) { f.insert(f.end(), {1, 2, 3}); }), kHeader,
         Error::None},
        {"4-byte block header", frame(plain, [](Bytes& f) { appendLe32(f, 10); }), 0, Error::InvalidBlockHeader},
        {"7-byte block header",
         frame(plain, [](Bytes& f) { appendLe32(f, 10); f.insert(f.end(), {1, 2, 3}); }), 0,
         Error::InvalidBlockHeader},
        {"payload one byte past the end",
         frame(plain, [](Bytes& f) { appendBlock(f, 11, 11, kPayload10); }), 0, Error::BlockDataTruncated},
        {"largest payload past the end",
         frame(plain, [](Bytes& f) { appendBlock(f, kBlockLengthMask, 1, kPayload10); }), 0,
         Error::BlockDataTruncated},
        {"skip block between stored blocks",
         frame(plain,
               [](Bytes& f) {
                   appendBlock(f, kBlockStored | 10, 10, kPayload10);
                   appendBlock(f, kBlockSkip | 10, 1000, kPayload10);
                   appendBlock(f, kBlockStored | 10, 10, kPayload10);
                   appendLe32(f, 0);
               }),
         kHeader + 3 * 18 + 4, Error::None},
        {"checksum trailer", frame(plain | kFrameChecksum, [](Bytes& f) { appendLe32(f, 0); }), kHeader + 4 + 4,
         Error::None},
        {"Merkle trailer", frame(plain | kFrameMerkleRoot, [](Bytes& f) { appendLe32(f, 0); }), kHeader + 4 + 4,
         Error::None},
        {"both trailers, not present in the bytes",
         frame(plain | kFrameChecksum | kFrameMerkleRoot, [](Bytes& f) { appendLe32(f, 0); }), kHeader + 4 + 8,
         Error::None},
        // 65536-byte chunks: 100000 counted bytes need 2 entries; the skip block's raw size does not count.
        {"chunk table counts only unskipped raw bytes",
         frame(plain | kFrameChunkTable,
               [](Bytes& f) {
                   appendBlock(f, 10, 100000, kPayload10);
                   appendBlock(f, kBlockSkip | 10, 200000, kPayload10);
                   appendLe32(f, 0);
               }),
         kHeader + 36 + 4 + 6, Error::None},
        {"chunk table of an empty frame", frame(plain | kFrameChunkTable, [](Bytes& f) { appendLe32(f, 0); }),
         kHeader + 4, Error::None},
        {"bad magic", frame(plain, [](Bytes& f) { f[0] = 0; appendLe32(f, 0); }), 0, Error::BadFrame},
        {"bad block size code", frame(plain, [](Bytes& f) { f[8] = 7; appendLe32(f, 0); }), 0, Error::BadFrame},
        {"header cut short", frame(plain, [](Bytes& f) { f.resize(20); }), 0, Error::BadFrame},
    };
    for (const Case& c : cases) {
        const FrameLength got = frameTotalLength(c.frame.data(), c.frame.size());
        EXPECT_EQ(got.error, c.error) << c.what;
        EXPECT_EQ(got.length, c.error == Error::None ? c.length : 0) << c.what;
    }
}

TEST(FrameWalk, NeverReadsPastTheBytesGiven) {
    // Whatever follows `available` would change the length if it were read.
    Bytes frame = header(kFrameContentSize | kFrameChecksum);
    appendBlock(frame, kBlockStored | 10, 10, kPayload10);
    const uint64_t available = frame.size() + 2;
    appendLe32(frame, 0);
    appendBlock(frame, 10, 10, kPayload10);
    EXPECT_EQ(frameTotalLength(frame.data(), available).length, kHeader + 18 + 4);

    // A WRT section longer than the bytes given ends the walk at the header,
    // with no underflow in the bytes remaining.
    HeaderFields f;
    f.flags = kFrameWrtSection | kFrameMerkleRoot;
    f.wrt_length = 1000;
    Bytes wrt = frameHeaderBytes(f);
    wrt.resize(wrt.size() + 64, 0xFF);
    const FrameLength walked = frameTotalLength(wrt.data(), wrt.size());
    EXPECT_EQ(walked.error, Error::None);
    EXPECT_EQ(walked.length, 18u + 1000 + 4);
    EXPECT_GT(walked.length, wrt.size());
}

TEST(FrameWalk, ChunkTableOfTinyChunks) {
    // One-byte chunks: one 3-byte entry per raw byte.
    HeaderFields f;
    f.flags = kFrameContentSize | kFrameChunkTable;
    f.sc_group_size = 1.0f / 262144;
    Bytes frame = frameHeaderBytes(f);
    appendBlock(frame, 10, 0xFFFFFFFF, kPayload10);
    appendLe32(frame, 0);
    EXPECT_EQ(frameTotalLength(frame.data(), frame.size()).length, kHeader + 18 + 4 + 3 * uint64_t{0xFFFFFFFF});
    EXPECT_EQ(chunkTableLength(UINT64_MAX, 1), UINT64_MAX);  // saturates
}

}  // namespace
}  // namespace kvn
