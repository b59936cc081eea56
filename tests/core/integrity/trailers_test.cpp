#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <xxhash.h>

#include "../format/frame_builder.h"
#include "core/format/frame_walk.h"
#include "core/integrity/merkle.h"
#include "core/integrity/trailers.h"
#include "sample_data.h"

namespace kvn {
namespace {

using test::appendLe32;
using test::Bytes;

constexpr uint32_t kStoredRoot = 0xA1B2C3D4;

struct Framed {
    Bytes content;
    Bytes frame;
};

// A stored frame of real bytes with whichever trailers `flags` asks for: the
// checksum of the content, and a recognisable root.
Framed framed(uint8_t flags, float sc_group_size = 0.25f) {
    Framed f{test::systemHeaderBytes(5000), {}};
    f.frame = test::storedFrameBody(f.content, flags, sc_group_size);
    if (flags & kFrameChecksum) appendLe32(f.frame, XXH32(f.content.data(), f.content.size(), 0));
    if (flags & kFrameMerkleRoot) appendLe32(f.frame, kStoredRoot);
    return f;
}

constexpr uint8_t kBoth = kFrameContentSize | kFrameChecksum | kFrameMerkleRoot;

TEST(MerkleTrailer, ReadsTheLastWordAndTheLeafSize) {
    const struct {
        float sc;
        uint64_t leaf;
    } cases[] = {{0.25f, 65536}, {1.0f, 262144}, {4.0f, 262144}, {1.0f / 262144, 1}};
    for (const auto& c : cases) {
        const Framed f = framed(kBoth, c.sc);
        const MerkleTrailer t = readMerkleTrailer(true, c.sc, f.frame.data(), f.frame.size());
        EXPECT_TRUE(t.present) << c.sc;
        EXPECT_EQ(t.error, Error::None);
        EXPECT_EQ(t.leaf_size, c.leaf) << c.sc;
        EXPECT_EQ(t.stored_root, kStoredRoot);
    }
}

TEST(MerkleTrailer, AbsentOrUnreadable) {
    const Framed f = framed(kBoth);
    const uint64_t size = f.frame.size();
    const struct {
        const char* what;
        bool flag;
        float sc;
        uint64_t available;
        Error error;
    } cases[] = {
        {"flag clear", false, 0.25f, size, Error::None},
        // Cut inside the trailers: the root the flags promise is missing.
        {"last byte cut", true, 0.25f, size - 1, Error::ChecksumMismatch},
        {"root cut", true, 0.25f, size - 4, Error::ChecksumMismatch},
        {"both trailers cut", true, 0.25f, size - 8, Error::ChecksumMismatch},
        // Cut inside the body: the walk fails, and that is the walk's fault to report.
        {"cut inside the block", true, 0.25f, 100, Error::None},
        {"cut inside the header", true, 0.25f, 10, Error::None},
        {"zero chunk fraction", true, 0.0f, size, Error::BadScGroupSize},
        {"NaN chunk fraction", true, std::numeric_limits<float>::quiet_NaN(), size, Error::BadScGroupSize},
        {"chunk fraction 2^-19", true, std::ldexp(1.0f, -19), size, Error::BadScGroupSize},
    };
    for (const auto& c : cases) {
        const MerkleTrailer t = readMerkleTrailer(c.flag, c.sc, f.frame.data(), c.available);
        EXPECT_FALSE(t.present) << c.what;
        EXPECT_EQ(t.error, c.error) << c.what;
        EXPECT_EQ(t.stored_root, 0u) << c.what;
        EXPECT_EQ(t.leaf_size, 0u) << c.what;
    }
}

TEST(ContentChecksum, FindsTheChecksumBeforeTheRoot) {
    const Framed both = framed(kBoth);
    const Bytes& content = both.content;
    EXPECT_EQ(checkContentChecksum(true, true, both.frame.data(), both.frame.size(), content.data(), content.size()),
              Error::None);

    // The root after it is not part of the comparison...
    Bytes other_root = both.frame;
    other_root.back() ^= 0xFF;
    EXPECT_EQ(checkContentChecksum(true, true, other_root.data(), other_root.size(), content.data(), content.size()),
              Error::None);
    // ...but the word at frame length - 8 is.
    Bytes other_sum = both.frame;
    other_sum[other_sum.size() - 8] ^= 0xFF;
    EXPECT_EQ(checkContentChecksum(true, true, other_sum.data(), other_sum.size(), content.data(), content.size()),
              Error::ChecksumMismatch);

    const Framed alone = framed(kFrameContentSize | kFrameChecksum);
    EXPECT_EQ(checkContentChecksum(true, false, alone.frame.data(), alone.frame.size(), content.data(),
                                   content.size()),
              Error::None);
    Bytes changed = content;
    changed[4321] ^= 0x01;
    EXPECT_EQ(checkContentChecksum(true, false, alone.frame.data(), alone.frame.size(), changed.data(),
                                   changed.size()),
              Error::ChecksumMismatch);
}

TEST(ContentChecksum, AbsentOrUnreadable) {
    const Framed f = framed(kBoth);
    const uint64_t size = f.frame.size();
    const Bytes wrong(f.content.size(), 0);
    const struct {
        const char* what;
        bool flag;
        uint64_t available;
        Error error;
    } cases[] = {
        {"flag clear", false, size, Error::None},
        {"root cut", true, size - 4, Error::ChecksumMismatch},
        {"both trailers cut", true, size - 8, Error::ChecksumMismatch},
        {"cut inside the block", true, 100, Error::None},
        {"cut inside the header", true, 13, Error::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(checkContentChecksum(c.flag, true, f.frame.data(), c.available, wrong.data(), wrong.size()),
                  c.error)
            << c.what;
    }
}

// The trailers of a frame carrying the real root: what a decoder checks.
TEST(MerkleTrailer, StoredRootMatchesTheContent) {
    Framed f{test::systemHeaderBytes(300000), {}};
    f.frame = test::storedFrameBody(f.content, kFrameContentSize | kFrameMerkleRoot);
    const MerkleRoot root = chunkMerkleRoot(f.content.data(), f.content.size(), 65536);
    ASSERT_EQ(root.error, Error::None);
    appendLe32(f.frame, root.root);
    ASSERT_EQ(frameTotalLength(f.frame.data(), f.frame.size()).length, f.frame.size());

    const MerkleTrailer t = readMerkleTrailer(true, 0.25f, f.frame.data(), f.frame.size());
    ASSERT_TRUE(t.present);
    EXPECT_EQ(chunkMerkleRoot(f.content.data(), f.content.size(), t.leaf_size).root, t.stored_root);
}

}  // namespace
}  // namespace kvn
