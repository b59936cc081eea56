// Byte-plane frames from the GPU: the body is the reference encoder's frame
// of the plane-major input with the stride in header byte 13, the trailers
// cover the caller's element-major bytes on every trailer road, KVN_BYTE_PLANE
// names a stride when the caller gives none, and the automatic stride keeps
// the smaller of its two passes.
#include <cstring>

#include "core/format/frame_header.h"
#include "encode_test_support.h"
#include "reference/ref_byte_plane.h"
#include "reference/reference_codec.h"

namespace kvn::test {
namespace {

constexpr uint64_t kStrideByte = 13;

// Little-endian u32 counters 0, 1, ...: the automatic choice takes stride 32.
Bytes counters(uint32_t count) {
    Bytes out(4 * uint64_t{count});
    for (uint32_t i = 0; i < count; ++i) std::memcpy(out.data() + 4 * uint64_t{i}, &i, 4);
    return out;
}

// 16-bit samples of a slow staircase with 4 bits of noise in the low byte:
// plain, no four bytes repeat; as planes, the high bytes run.
Bytes samples16(uint32_t count) {
    Bytes out(2 * uint64_t{count});
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < count; ++i) {
        noise = noise * 1103515245u + 12345u;
        const uint16_t v = static_cast<uint16_t>((0x40 + (i / 256) % 8) * 256 + ((noise >> 16) & 0x0F));
        std::memcpy(out.data() + 2 * uint64_t{i}, &v, 2);
    }
    return out;
}

using BytePlaneFramesTest = EncodeTest;

TEST_F(BytePlaneFramesTest, BodyIsTheReferenceFrameOfThePlanes) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes wave = samples16(100000);
    const Bytes text = realFile("/usr/include/stdio.h", 3 * 65536);
    struct Case {
        const char* what;
        Bytes input;
        uint8_t stride;
        float fraction;
    };
    const Case cases[] = {
        {"16-bit samples, stride 2", wave, 2, 0.25f},
        {"counters, stride 4, 65,536-byte blocks", counters(50000), 4, 0.25f},
        {"stride 3 does not divide the chunk: one block", text, 3, 0.25f},
        {"stride 32 over whole chunks", counters(65536), 32, 1.0f},
        {"stored form of 128 bytes", Bytes(text.begin(), text.begin() + 128), 4, 0.25f},
    };
    for (const Case& c : cases) {
        for (int level : {1, 2}) {
            SCOPED_TRACE(std::string(c.what) + " at level " + std::to_string(level));
            CompressOpts opts{};
            opts.level = level;
            opts.sc_group_size = c.fraction;
            opts.byte_plane_stride = c.stride;
            const Bytes frame = compressOk(c.input, opts);
            const Bytes planes =
                ref::bytePlanes(c.input, c.stride, bytePlaneBlockSize(frameChunkSize(c.fraction), c.stride));
            CompressOpts plain = opts;
            plain.byte_plane_stride = 0;
            Bytes expected = referenceFrame(planes, plain);
            ASSERT_GT(expected.size(), kStrideByte);
            expected[kStrideByte] = c.stride;
            EXPECT_TRUE(frame == expected) << "the GPU frame is the reference frame of the planes";
            expectLibraryRestores(handle_, frame, c.input);
        }
    }
}

TEST_F(BytePlaneFramesTest, TrailersCoverTheCallersBytesOnEveryRoad) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes wave = samples16(120000);
    // The body encode's device leaves, a device pass over the input, the CPU.
    for (const char* no_device_merkle : {static_cast<const char*>(nullptr), "1"}) {
        const ScopedEnv env("KVN_NO_DEVICE_MERKLE", no_device_merkle);
        for (int level : {1, 2, 3}) {
            SCOPED_TRACE(std::string("level ") + std::to_string(level) + (no_device_merkle ? ", CPU root" : ""));
            CompressOpts opts = withTrailers(level);
            opts.byte_plane_stride = 2;
            const Bytes frame = compressOk(wave, opts);
            ASSERT_GT(frame.size(), kStrideByte);
            EXPECT_EQ(frame[kStrideByte], 2);
            expectLibraryRestores(handle_, frame, wave);
        }
    }
}

TEST_F(BytePlaneFramesTest, EnvironmentNamesTheStrideWhenTheCallerGivesNone) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = counters(6000);  // 24,000 bytes: a multiple of 2, 3, 4, 6, 8, 12, 16, 24 and 32
    const struct {
        const char* value;
        uint8_t stride;
    } cases[] = {{"", 2}, {"1", 2}, {"4", 4}, {"32", 32}, {"5", 0}, {"x", 0}, {"4x", 0}, {"28", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("KVN_BYTE_PLANE=\"") + c.value + "\"");
        const ScopedEnv env("KVN_BYTE_PLANE", c.value);
        const Bytes frame = compressOk(input, withTrailers(1));
        ASSERT_GT(frame.size(), kStrideByte);
        EXPECT_EQ(frame[kStrideByte], c.stride) << "28 does not divide the input: the frame is plain";
        expectLibraryRestores(handle_, frame, input);
    }
}

TEST_F(BytePlaneFramesTest, AutomaticStrideKeepsTheSmallerPass) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes text = realFile("/usr/include/stdio.h", 40000);
    const struct {
        const char* what;
        Bytes input;
        bool transformed;
    } cases[] = {
        {"31 bytes", Bytes(text.begin(), text.begin() + 31), false},
        {"constant bytes", Bytes(40000, 7), false},
        {"u32 counters", counters(16384), true},
        {"16-bit samples", samples16(30000), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CompressOpts opts = withTrailers(2);
        const Bytes plain = compressOk(c.input, opts);
        opts.byte_plane_stride = -1;
        const Bytes chosen = compressOk(c.input, opts);
        if (c.transformed) {
            EXPECT_LT(chosen.size(), plain.size()) << "the planes compress better here";
            EXPECT_NE(chosen[kStrideByte], 0);
        } else {
            EXPECT_TRUE(chosen == plain) << "no stride: the first pass stands";
        }
        expectLibraryRestores(handle_, chosen, c.input);
    }
}

}  // namespace
}  // namespace kvn::test
