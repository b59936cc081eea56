// Inputs larger than the frame cap become frames of the cap's size written
// one after another: each frame is the reference encoder's frame of its
// slice, the frames decode to the input as one stream, and a cap kept by the
// handle never fails a later call with another chunk size.

#include <algorithm>

#include "encode_test_support.h"
#include "reference/reference_codec.h"

namespace kvn::test {
namespace {

using FrameSplitTest = EncodeTest;

TEST_F(FrameSplitTest, CapOf100000GivesThreeChunksAndATail) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const ScopedEnv cap("KVN_FRAME_CAP", "100000");
    const Bytes input = realFile("/usr/include/stdio.h", 200000);
    for (int level : {1, 2}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const CompressOpts opts = withTrailers(level);
        const Bytes stream = compressOk(input, opts);
        EXPECT_EQ(frameSizes(stream), (std::vector<uint64_t>{65536, 65536, 65536, 3392}));
        // Each frame is the reference frame of its slice.
        Bytes expected;
        for (uint64_t at = 0; at < input.size(); at += 65536) {
            const Bytes slice(input.begin() + at, input.begin() + std::min<uint64_t>(at + 65536, input.size()));
            const Bytes frame = referenceFrame(slice, opts);
            expected.insert(expected.end(), frame.begin(), frame.end());
        }
        EXPECT_TRUE(stream == expected);
        expectLibraryRestores(handle_, stream, input);
    }
}

TEST_F(FrameSplitTest, CapBelowOneChunkIsIgnored) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const ScopedEnv cap("KVN_FRAME_CAP", "1000");
    const Bytes input = realFile("/usr/include/stdio.h", 200000);
    const Bytes stream = compressOk(input, withTrailers(1));
    EXPECT_EQ(frameSizes(stream), (std::vector<uint64_t>{200000}));
}

TEST_F(FrameSplitTest, FramesOfEqualSizeAndDifferentContent) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const ScopedEnv cap("KVN_FRAME_CAP", "131072");
    Bytes input = realFile("/usr/include/stdio.h", 131072);
    const Bytes second = randomBytes(131072, 3);
    const Bytes third = realFile("/usr/include/stdlib.h", 131072);
    input.insert(input.end(), second.begin(), second.end());
    input.insert(input.end(), third.begin(), third.end());
    for (int level : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE("level " + std::to_string(level));
        CompressOpts opts = withTrailers(level);
        opts.dict_id = 1;
        const Bytes stream = compressOk(input, opts);
        EXPECT_EQ(frameSizes(stream), (std::vector<uint64_t>{131072, 131072, 131072}));
        expectLibraryRestores(handle_, stream, input);
    }
}

TEST_F(FrameSplitTest, KeptCapServesOnlyItsChunkSize) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = realFile("/usr/include/stdio.h", 300000);
    {
        // 70,000 bytes is one 64 KiB chunk: the handle keeps a cap of 65,536.
        const ScopedEnv cap("KVN_FRAME_CAP", "70000");
        const Bytes stream = compressOk(input, withTrailers(1));
        EXPECT_EQ(frameSizes(stream).size(), 5u);
        expectLibraryRestores(handle_, stream, input);
    }
    // Whole 256 KiB chunks: a cap of 65,536 would hold no chunk at all.
    CompressOpts opts = withTrailers(1);
    opts.sc_group_size = 1.0f;
    const Bytes stream = compressOk(input, opts);
    EXPECT_EQ(frameSizes(stream), (std::vector<uint64_t>{300000}));
    expectLibraryRestores(handle_, stream, input);
}

// More than a binding can hold (128 MiB on lavapipe) still compresses and
// decompresses in one call: the frames stay within the binding range.
TEST_F(FrameSplitTest, InputLargerThanOneBindingRoundTrips) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const ScopedEnv cap("KVN_FRAME_CAP", "8388608");
    // Blocks of 3,000 random bytes, each differing from the last in one byte:
    // long matches at a short distance, so every frame codes quickly.
    constexpr uint64_t kBlock = 3000;
    constexpr uint64_t kSize = (uint64_t{128} << 20) + (uint64_t{1} << 20);
    Bytes input(kSize);
    const Bytes block = randomBytes(kBlock, 11);
    for (uint64_t at = 0; at < kSize; at += kBlock) {
        const uint64_t n = std::min(kBlock, kSize - at);
        std::copy(block.begin(), block.begin() + n, input.begin() + at);
        input[at + (at / kBlock) % n] ^= 0x5a;
    }
    const Bytes stream = compressOk(input, withTrailers(1));
    EXPECT_EQ(frameSizes(stream).size(), 17u);
    EXPECT_LT(stream.size() * 20, input.size());
    expectLibraryRestores(handle_, stream, input);
}

}  // namespace
}  // namespace kvn::test
