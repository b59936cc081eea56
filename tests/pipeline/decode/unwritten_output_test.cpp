// Output the LZ decode did not write never reaches the caller as success:
// a sub-chunk header without its valid bit leaves its chunk unwritten (a
// corrupt frame, whatever the reused output slot held before), and a chunk
// walk that lavapipe's loop budget cuts short fails the call instead of
// returning the later chunks' old bytes. Frames without trailers, so that
// nothing else would notice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/format/frame_header.h"
#include "decode_test_support.h"
#include "kernels/format_constants.h"

namespace kvn::test {
namespace {

using Bytes = std::vector<uint8_t>;

// A level-2 frame the library writes for `input`, without trailers.
Bytes libraryFrame(void* handle, const Bytes& input) {
    CompressOpts opts{};
    opts.level = 2;
    Bytes out(input.size() * 2 + 4096);
    uint64_t size = 0;
    EXPECT_EQ(kvnCompressHost(handle, input.data(), input.size(), out.data(), out.size(), &size, &opts),
              KVN_STATUS_SUCCESS);
    out.resize(size);
    return out;
}

// The frame with bit 23 of its first sub-chunk header cleared. The frame
// holds one block of one coded chunk: block header, chunk header, size
// header, then the sub-chunk header (big-endian, bit 23 in its first byte).
Bytes withoutValidBit(Bytes frame) {
    const FrameHeader header = parseFrameHeader(frame.data(), frame.size());
    EXPECT_EQ(header.error, Error::None);
    const size_t chunk_at = header.header_length + 8;
    EXPECT_EQ(frame.at(chunk_at) & 0x80, 0) << "the first chunk is coded";
    const size_t subchunk_at = chunk_at + KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES;
    EXPECT_NE(frame.at(subchunk_at) & 0x80, 0) << "bit 23 is set as written";
    frame.at(subchunk_at) &= 0x7F;
    return frame;
}

TEST(UnwrittenOutput, SubChunkWithoutItsValidBitIsACorruptFrameOnFreshAndReusedHandles) {
    inChildProcess([] {
        readyOps();
        const Bytes text = realBytes(20000);
        const Bytes other = realBytes(20000, 50000);
        ChildHandle writer;
        const Bytes frame = libraryFrame(writer.get(), text);
        const Bytes other_frame = libraryFrame(writer.get(), other);
        const Bytes damaged = withoutValidBit(frame);
        for (bool reused : {false, true}) {
            SCOPED_TRACE(reused ? "reused handle" : "fresh handle");
            ChildHandle handle;
            if (reused) {
                // The output slot now holds the other frame's bytes.
                const Decoded first = decodeHost(handle.get(), other_frame, other.size());
                ASSERT_EQ(first.status, KVN_STATUS_SUCCESS);
                ASSERT_TRUE(first.bytes == other);
            }
            const Decoded d = decodeHost(handle.get(), damaged, text.size());
            EXPECT_EQ(d.status, KVN_STATUS_CORRUPT_FRAME);
            EXPECT_TRUE(d.guard_intact);
            // The handle still decodes the frame as written.
            const Decoded again = decodeHost(handle.get(), frame, text.size());
            EXPECT_EQ(again.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(again.bytes == text);
        }
    });
}

// A block of stored chunks without a chunk-prefix area: one LZ work item
// walks them all in order. On lavapipe one invocation's loop budget runs out
// partway (2,286 chunks of 7 bytes: at about chunk 2,185), so the walk goes
// in windows of dispatches and the frame decodes exactly: never status 0
// with old bytes in its tail. Raw and pipelined raw kernels.
Bytes storedChunkFrame(const Bytes& content, uint32_t chunk) {
    Bytes payload;
    for (size_t at = 0; at < content.size(); at += chunk) {
        // Stored chunk, prefix-area bit (bit 4) clear in chunk 0.
        payload.push_back(uint8_t(KVN_CHUNK_HDR0_STORED_WRITTEN & ~KVN_CHUNK_HDR0_PREFIX_AREA));
        payload.push_back(1);
        payload.insert(payload.end(), content.begin() + at, content.begin() + std::min(content.size(), at + chunk));
    }
    ref::FrameOptions options;
    options.sc_group_size = (float(chunk) + 0.5f) / 262144.0f;
    ref::FrameBuilder builder(options);
    builder.block(uint32_t(payload.size()), uint32_t(content.size()), payload);
    return builder.finish(content);
}

TEST(UnwrittenOutput, LongChunkWalksDecodeExactly) {
    struct Case {
        uint32_t chunks, chunk;
        bool pipelined;
    };
    for (const Case c : {Case{2286, 7, false}, Case{2286, 7, true}, Case{1200, 1024, false}}) {
        SCOPED_TRACE(std::to_string(c.chunks) + " chunks of " + std::to_string(c.chunk) +
                     (c.pipelined ? " bytes, pipelined kernel" : " bytes"));
        inChildProcess([c] {
            if (c.pipelined) setenv("KVN_VK_PIPELINE", "1", 1);
            readyOps();
            Bytes content(size_t(c.chunks) * c.chunk);
            for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t(i * 131 + 7 + i / 251);
            const Bytes frame = storedChunkFrame(content, c.chunk);
            ChildHandle handle;
            // The output slot first holds other bytes, so old output shows.
            const Bytes filler(content.size(), 0x3C);
            const Decoded first = decodeHost(handle.get(), libraryFrame(handle.get(), filler), filler.size());
            ASSERT_EQ(first.status, KVN_STATUS_SUCCESS);
            const Decoded d = decodeHost(handle.get(), frame, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content) << "other bytes than the content";
            EXPECT_TRUE(d.guard_intact);
        });
    }
}

}  // namespace
}  // namespace kvn::test
