// The size calls on hand-built frames: the compress bound, one frame's
// decoded size from its header, and the total over concatenated frames.
#include <gtest/gtest.h>

#include "core/format/compress_bound.h"
#include "core/format/frame_builder.h"
#include "core/interface/fake_backend.h"
#include "korvane.h"

namespace kvn::test {
namespace {

using SizesTest = InterfaceTest;

Bytes storedFrame(size_t content_bytes, uint8_t flags = kFrameContentSize) {
    return storedFrameBody(Bytes(content_bytes, 'k'), flags);
}

// A WRT frame whose section says `decoded` bytes; the body is just the end mark.
Bytes wrtFrame(uint64_t decoded, uint8_t extra_flags = 0) {
    HeaderFields fields;
    fields.flags = kFrameContentSize | kFrameWrtSection | extra_flags;
    fields.content_size = 3;  // the transformed length: not what the caller gets
    fields.wrt_length = 16;
    Bytes frame = frameHeaderBytes(fields);
    appendLe64(frame, decoded);
    appendLe64(frame, 0);  // word counts
    appendLe32(frame, 0);  // end mark
    return frame;
}

Bytes withContentSize(uint64_t content_size) {
    HeaderFields fields;
    fields.content_size = content_size;
    Bytes frame = frameHeaderBytes(fields);
    appendLe32(frame, 0);
    return frame;
}

Bytes prefix(const Bytes& bytes, size_t n) { return Bytes(bytes.begin(), bytes.begin() + n); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(SizesTest, CompressBoundChecksAndIgnoresItsThirdArgument) {
    void* h = makeHandle();
    uint64_t out = 0;
    EXPECT_EQ(kvnCompressBound(nullptr, 1, 0, nullptr), 1u);
    EXPECT_EQ(kvnCompressBound(h, 1, 0, nullptr), 2u);
    for (uint64_t reserved : {uint64_t{0}, ~uint64_t{0}}) {
        ASSERT_EQ(kvnCompressBound(h, 65536, reserved, &out), 0u);
        EXPECT_EQ(out, 65536u + 441);
    }
    ASSERT_EQ(kvnCompressBound(h, 0, 0, &out), 0u);
    EXPECT_EQ(out, 108u);
    ASSERT_EQ(kvnCompressBound(h, ~uint64_t{0}, 0, &out), 0u);
    EXPECT_EQ(out, compressBound(~uint64_t{0}));
}

TEST_F(SizesTest, DecompressedSizeOfOneFrame) {
    void* h = makeHandle();
    uint64_t out = 0;
    const Bytes plain = storedFrame(100);
    EXPECT_EQ(kvnGetDecompressedSize(nullptr, plain.data(), &out), 1u);
    EXPECT_EQ(kvnGetDecompressedSize(h, nullptr, &out), 2u);
    EXPECT_EQ(kvnGetDecompressedSize(h, plain.data(), nullptr), 2u);

    // Only the announced header fields need to be readable: 22 bytes here,
    // in a block of exactly that size (AddressSanitizer watches its end).
    Bytes header_only = prefix(plain, 22);
    header_only.shrink_to_fit();
    ASSERT_EQ(kvnGetDecompressedSize(h, header_only.data(), &out), 0u);
    EXPECT_EQ(out, 100u);

    Bytes wrt = wrtFrame(5000);
    ASSERT_EQ(kvnGetDecompressedSize(h, wrt.data(), &out), 0u);
    EXPECT_EQ(out, 5000u) << "a WRT frame reports the untransformed size";

    ASSERT_EQ(kvnGetDecompressedSize(h, withContentSize(uint64_t{1} << 32).data(), &out), 0u);
    EXPECT_EQ(out, uint64_t{1} << 32);

    struct Refused {
        const char* what;
        Bytes frame;
    } refused[] = {
        {"no content size", storedFrame(10, 0)},
        {"above 2^32", withContentSize((uint64_t{1} << 32) + 1)},
        {"WRT size above 2^32", wrtFrame((uint64_t{1} << 32) + 1)},
        {"negative content size", withContentSize(~uint64_t{0})},
        {"bad magic", Bytes(64, 'x')},
    };
    for (Refused& r : refused) {
        r.frame.resize(std::max<size_t>(r.frame.size(), 64));
        out = 7;
        EXPECT_EQ(kvnGetDecompressedSize(h, r.frame.data(), &out), 4u) << r.what;
        EXPECT_EQ(out, 7u) << r.what;
    }
    Bytes bad_block_size = storedFrame(10);
    bad_block_size[8] = 7;
    EXPECT_EQ(kvnGetDecompressedSize(h, bad_block_size.data(), &out), 4u);
}

TEST_F(SizesTest, TotalOverConcatenatedFrames) {
    void* h = makeHandle();
    const Bytes a = storedFrame(100), b = storedFrame(200);
    const Bytes empty = storedFrame(0);
    struct Case {
        const char* what;
        Bytes data;
        KvnStatus status;
        uint64_t total;
    } cases[] = {
        {"two frames", concat({a, b}), 0, 300},
        {"a WRT frame counts its untransformed size", concat({a, wrtFrame(5000)}), 0, 5100},
        {"frames then 13 stray bytes", concat({a, b, Bytes(13, 0)}), 0, 300},
        {"frames then 20 bytes without the magic", concat({a, Bytes(20, 'z')}), 0, 100},
        // What starts with the magic is a frame: one the walk cannot take is
        // corrupt, as it is for the decoder, never silently left out.
        {"a following frame whose header is refused", [&] {
             Bytes bad = b;
             bad[4] = 3;  // version
             return concat({a, bad});
         }(), 4, 0},
        {"a cut copy of the first frame's header", concat({a, prefix(a, 22)}), 4, 0},
        {"only an empty frame", empty, 4, 0},
        {"empty frames only", concat({empty, empty}), 4, 0},
        {"no magic", Bytes(40, 'q'), 4, 0},
        {"13 bytes", Bytes(a.begin(), a.begin() + 13), 4, 0},
        {"a frame without content size", concat({a, storedFrame(10, 0)}), 4, 0},
        {"a WRT section past the input", prefix(wrtFrame(9), 30), 4, 0},
        {"a block header cut short", [&] {
             Bytes cut = storedFrame(10);
             cut.resize(22 + 6);  // header, then 6 of the block header's 8 bytes
             cut[22] = 1;         // not the end mark
             return concat({a, cut});
         }(), 4, 0},
        {"a block cut short", concat({a, prefix(b, b.size() - 30)}), 4, 0},
        {"a last frame without its trailer", concat({a, storedFrame(200, kFrameContentSize | kFrameChecksum)}),
         4, 0},
        {"only a frame without its trailer", storedFrame(200, kFrameContentSize | kFrameChecksum), 4, 0},
        // Sums that do not fit 64 bits are refused rather than wrapped.
        {"a sum that overflows", concat({withContentSize(INT64_MAX), withContentSize(INT64_MAX),
                                         withContentSize(INT64_MAX)}), 4, 0},
        {"a large sum that fits", concat({withContentSize(INT64_MAX), withContentSize(INT64_MAX)}), 0,
         uint64_t{INT64_MAX} * 2},
    };
    for (const Case& c : cases) {
        uint64_t out = 12345;
        EXPECT_EQ(kvnGetTotalDecompressedSize(h, c.data.data(), c.data.size(), &out), c.status) << c.what;
        EXPECT_EQ(out, c.status == 0 ? c.total : 12345u) << c.what;
    }
}

TEST_F(SizesTest, TotalChecksInOrder) {
    void* h = makeHandle();
    const Bytes a = storedFrame(100);
    uint64_t out = 9;
    EXPECT_EQ(kvnGetTotalDecompressedSize(nullptr, nullptr, 0, nullptr), 1u);
    EXPECT_EQ(kvnGetTotalDecompressedSize(h, nullptr, a.size(), &out), 2u);
    EXPECT_EQ(kvnGetTotalDecompressedSize(h, a.data(), a.size(), nullptr), 2u);
    EXPECT_EQ(kvnGetTotalDecompressedSize(h, a.data(), 0, &out), 0u);
    EXPECT_EQ(out, 0u);
}

}  // namespace
}  // namespace kvn::test
