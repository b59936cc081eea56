// Frames with compressed blocks, made by the reference encoder, decoded on
// lavapipe through the decode kernels: every level, chunk fractions,
// several blocks in one frame, trailers and the device Merkle verdict.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/format/frame_header.h"
#include "decode_test_support.h"
#include "reference/reference_codec.h"

namespace kvn::test {
namespace {

using Bytes = std::vector<uint8_t>;

ref::FrameOptions trailers(bool checksum, bool merkle) {
    ref::FrameOptions o;
    o.checksum = checksum;
    o.merkle_root = merkle;
    return o;
}

// Skips the test while the build has no LZ decode kernels.
#if defined(KVN_TEST_LZ_KERNELS)
#define REQUIRE_LZ_KERNELS()
#else
#define REQUIRE_LZ_KERNELS() GTEST_SKIP() << "the LZ decode kernels are not built"
#endif

Bytes codedFrame(std::span<const uint8_t> input, int level, float sc, ref::FrameOptions frame) {
    return ref::compressFrame(input, ref::encodeOptionsForLevel(level, sc), frame);
}

TEST(CodedFrames, EveryLevelAndChunkFractionRoundTrips) {
    REQUIRE_LZ_KERNELS();
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(300000);
        for (int level : {1, 2, 3, 4}) {
            for (float sc : {0.25f, 1.0f}) {
                for (bool merkle : {false, true}) {
                    const Bytes frame = codedFrame(text, level, sc, trailers(true, merkle));
                    const Decoded d = decodeHost(handle.get(), frame, text.size() + kOutputSlack);
                    EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << "level " << level << " sc " << sc;
                    EXPECT_TRUE(d.bytes == text) << "level " << level << " sc " << sc;
                    EXPECT_TRUE(d.guard_intact);
                    if (merkle) EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS) << "device verdict";
                }
            }
        }
    });
}

// Blocks after the first decode with the earlier ones as their history, and
// the device verdict of the last block covers the frame's leaves at frame
// offsets. The encoders write one block per frame and a coded block's first
// sub-chunk opens the frame, so the later coded blocks hold stored and
// byte-fill chunks, which decode the same wherever they lie.
TEST(CodedFrames, SeveralBlocksInOneFrame) {
    REQUIRE_LZ_KERNELS();
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        Bytes content = realBytes(70000, 11);
        Bytes noise(98304);
        uint32_t state = 12345;
        for (uint8_t& b : noise) b = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
        const Bytes fill(40000, 0x5C);
        const Bytes stored = realBytes(333, 4);
        for (int level : {1, 3}) {
            ref::EncodeOptions enc = ref::encodeOptionsForLevel(level, 0.25f);
            enc.fill_chunks = true;
            ref::FrameOptions o = trailers(true, true);
            o.level_code = uint8_t(level > 2 ? level : 1);
            const Bytes all = concat({content, stored, noise, fill});
            const Bytes frame = ref::FrameBuilder(o)
                                    .codedBlock(ref::encodeBlock(content, enc))
                                    .storedBlock(stored)
                                    .codedBlock(ref::encodeBlock(noise, enc))
                                    .codedBlock(ref::encodeBlock(fill, enc))
                                    .finish(all);
            const ref::DecodedFrame oracle = ref::decodeFrame(frame, {});
            ASSERT_EQ(oracle.error, Error::None);
            ASSERT_TRUE(oracle.bytes == all) << "the reference decoder";
            const Decoded d = decodeHost(handle.get(), frame, all.size() + kOutputSlack);
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << "level " << level;
            EXPECT_TRUE(d.bytes == all) << "level " << level;
            EXPECT_TRUE(d.guard_intact);
            EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS) << "the device judged the whole frame";

            Bytes wrong_root = frame;
            wrong_root.back() ^= 1;
            EXPECT_EQ(decodeHost(handle.get(), wrong_root, all.size() + kOutputSlack).status, KVN_STATUS_CORRUPT_FRAME);
            EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_CORRUPT_FRAME);
        }
    });
}

TEST(CodedFrames, DamageShowsInTheTrailers) {
    REQUIRE_LZ_KERNELS();
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(120000, 3);
        for (bool device_merkle : {true, false}) {
            if (!device_merkle) setenv("KVN_NO_DEVICE_MERKLE", "", 1);
            Bytes frame = codedFrame(text, 3, 0.25f, trailers(false, true));
            frame.back() ^= 0x10;  // wrong root
            EXPECT_EQ(decodeHost(handle.get(), frame, text.size() + kOutputSlack).status, KVN_STATUS_CORRUPT_FRAME);
            EXPECT_EQ(kvnGetLastVerdict(handle.get()), device_merkle ? KVN_STATUS_CORRUPT_FRAME : KVN_STATUS_UNSUPPORTED);
            Bytes body = codedFrame(text, 1, 0.25f, trailers(true, false));
            body[body.size() / 2] ^= 0x5A;  // inside the compressed data
            const Decoded d = decodeHost(handle.get(), body, text.size() + kOutputSlack);
            EXPECT_NE(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.guard_intact);
        }
        unsetenv("KVN_NO_DEVICE_MERKLE");
    });
}

TEST(CodedFrames, TimingsNameTheKernelsAndSumToTheTotal) {
    REQUIRE_LZ_KERNELS();
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(100000, 9);
        const Bytes frames = concat({codedFrame(text, 3, 0.25f, {}), codedFrame(text, 1, 0.25f, {})});
        const Decoded d = decodeHost(handle.get(), frames, 2 * text.size() + kOutputSlack, true);
        ASSERT_EQ(d.status, KVN_STATUS_SUCCESS);
        TimingEntry entries[4] = {};
        uint64_t count = 0;
        ASSERT_EQ(kvnGetLastTimings(handle.get(), entries, 4, &count), KVN_STATUS_SUCCESS);
        ASSERT_EQ(count, 1u);
        EXPECT_STREQ(entries[0].label, "multi-frame total");
        EXPECT_GT(entries[0].milliseconds, 0.0f);
    });
}

}  // namespace
}  // namespace kvn::test
