// Frames with compressed blocks, made by the reference encoder, decoded on
// lavapipe through the decode kernels: every level, chunk fractions,
// several blocks in one frame, trailers and the device Merkle verdict.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
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

Bytes codedFrame(std::span<const uint8_t> input, int level, float sc, ref::FrameOptions frame) {
    return ref::compressFrame(input, ref::encodeOptionsForLevel(level, sc), frame);
}

TEST(CodedFrames, EveryLevelAndChunkFractionRoundTrips) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(100000);
        for (int level : {1, 2, 3, 4}) {
            for (float sc : {0.25f, 1.0f}) {
                const Bytes frame = codedFrame(text, level, sc, trailers(true, true));
                const Decoded d = decodeHost(handle.get(), frame, text.size());
                EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << "level " << level << " sc " << sc;
                EXPECT_TRUE(d.bytes == text) << "level " << level << " sc " << sc;
                EXPECT_TRUE(d.guard_intact);
                EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS) << "device verdict";
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
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        Bytes content = realBytes(70000, 11);
        Bytes noise(98304);
        uint32_t state = 12345;
        for (uint8_t& b : noise) b = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
        const Bytes fill(40000, 0x5C);
        const Bytes stored = realBytes(333, 4);
        // The fill may touch only each batch's own bytes, never its history.
        setenv("KVN_FILL_DST", "0x41", 1);
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
            const Decoded d = decodeHost(handle.get(), frame, all.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << "level " << level;
            EXPECT_TRUE(d.bytes == all) << "level " << level;
            EXPECT_TRUE(d.guard_intact);
            EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS) << "the device judged the whole frame";

            Bytes wrong_root = frame;
            wrong_root.back() ^= 1;
            EXPECT_EQ(decodeHost(handle.get(), wrong_root, all.size()).status, KVN_STATUS_CORRUPT_FRAME);
            EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_CORRUPT_FRAME);
        }
        unsetenv("KVN_FILL_DST");
    });
}

TEST(CodedFrames, DamageShowsInTheTrailers) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(60000, 3);
        for (bool device_merkle : {true, false}) {
            if (!device_merkle) setenv("KVN_NO_DEVICE_MERKLE", "", 1);
            Bytes frame = codedFrame(text, 3, 0.25f, trailers(false, true));
            frame.back() ^= 0x10;  // wrong root
            EXPECT_EQ(decodeHost(handle.get(), frame, text.size()).status, KVN_STATUS_CORRUPT_FRAME);
            EXPECT_EQ(kvnGetLastVerdict(handle.get()), device_merkle ? KVN_STATUS_CORRUPT_FRAME : KVN_STATUS_UNSUPPORTED);
            Bytes body = codedFrame(text, 1, 0.25f, trailers(true, false));
            body[body.size() / 2] ^= 0x5A;  // inside the compressed data
            const Decoded d = decodeHost(handle.get(), body, text.size());
            EXPECT_NE(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.guard_intact);
        }
        unsetenv("KVN_NO_DEVICE_MERKLE");
    });
}

TEST(CodedFrames, TimingsNameTheKernelsAndSumToTheTotal) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(50000, 9);
        const Bytes frames = concat({codedFrame(text, 3, 0.25f, {}), codedFrame(text, 1, 0.25f, {})});
        const Decoded d = decodeHost(handle.get(), frames, 2 * text.size(), true);
        ASSERT_EQ(d.status, KVN_STATUS_SUCCESS);
        TimingEntry entries[4] = {};
        uint64_t count = 0;
        ASSERT_EQ(kvnGetLastTimings(handle.get(), entries, 4, &count), KVN_STATUS_SUCCESS);
        ASSERT_EQ(count, 1u);
        EXPECT_STREQ(entries[0].label, "multi-frame total");
        EXPECT_GT(entries[0].milliseconds, 0.0f);
    });
}


// The stage dumps of a level-3 batch, the huff-descriptor dump and the LZ
// diagnostics file; KVN_FILL_DST fills only the batch's own output, so frames
// with history still decode.
TEST(CodedFrames, StageDumpsAndDestinationFill) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(200000, 21);
        const Bytes frame = codedFrame(text, 3, 1.0f, trailers(true, false));
        const std::string folder = scratchFolder();
        const char* variables[] = {"KVN_DUMP_TOK1", "KVN_DUMP_LIT1", "KVN_DUMP_OFF16_1", "KVN_DUMP_LUT5",
                                   "KVN_DUMP_HUFF_DESCS", "KVN_DIAG_DUMP"};
        for (const char* v : variables) setenv(v, (folder + "/" + v).c_str(), 1);
        ::testing::internal::CaptureStderr();
        const Decoded d = decodeHost(handle.get(), frame, text.size());
        const std::string lines = ::testing::internal::GetCapturedStderr();
        for (const char* v : variables) unsetenv(v);
        ASSERT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == text);
        const auto size = [&](const char* v) {
            std::ifstream file(folder + "/" + v, std::ios::binary | std::ios::ate);
            return file ? uint64_t(file.tellg()) : uint64_t{0};
        };
        EXPECT_EQ(size("KVN_DUMP_LIT1"), 32768u);
        EXPECT_EQ(size("KVN_DUMP_LUT5"), 1024u);
        // At most 200 bytes of the merged list's capacity: 20 bytes x 4 streams
        // x 2 sub-chunks here.
        EXPECT_EQ(size("KVN_DUMP_HUFF_DESCS"), 160u);
        EXPECT_NE(lines.find("KVN_DUMP_LIT1[VK]: wrote 32768 bytes to " + folder + "/KVN_DUMP_LIT1\n"), std::string::npos)
            << lines;
        EXPECT_NE(lines.find("KVN_DUMP_TOK1[VK]: wrote 32768 bytes to " + folder + "/KVN_DUMP_TOK1 (entropy_scratch+0x"),
                  std::string::npos);
        EXPECT_NE(lines.find("KVN_DUMP_HUFF_DESCS[VK]: wrote 160 bytes to "), std::string::npos);
        std::ifstream diag(folder + "/KVN_DIAG_DUMP");
        const std::string text_file((std::istreambuf_iterator<char>(diag)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text_file,
                  "records=0 (emitted 0)\n"
                  "readLength calls=0 max_addr=0 at base=0 off=0 rem=0\n"
                  "walk max_chunk_src+3=0 max_chunk_src_end=0 max_sc_dst_off=0 cmd_batched_max=0 cmd_slow_max=0 "
                  "arm3split=0 arm2split=0\n");

        setenv("KVN_FILL_DST", "0x41", 1);
        const Decoded filled = decodeHost(handle.get(), frame, text.size());
        unsetenv("KVN_FILL_DST");
        EXPECT_EQ(filled.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(filled.guard_intact);
    });
}

}  // namespace
}  // namespace kvn::test
