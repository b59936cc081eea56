// WRT frames through the library: where the transform starts to apply, the
// texts it does not pay for (a plain frame, byte for byte the frame without
// the option), and damaged sections, which the decoder answers with the
// corrupt-frame status without writing past the destination.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/format/frame_header.h"
#include "core/wrt/wrt_format.h"
#include "encode_test_support.h"

namespace kvn::test {
namespace {

constexpr KvnStatus kCorrupt = 4;

bool carriesWrt(const Bytes& frame) {
    const FrameHeader header = parseFrameHeader(frame.data(), frame.size());
    EXPECT_EQ(header.error, Error::None);
    return (header.flags & kFrameWrtSection) != 0;
}

CompressOpts wrtOpts(int32_t level) {
    CompressOpts opts = withTrailers(level);
    opts.wrt = 1;
    return opts;
}

// Distinct five-letter words: none repeats, so none is worth a code.
Bytes distinctWords(uint64_t n) {
    Bytes out;
    for (uint32_t i = 0; out.size() < n; ++i) {
        uint32_t v = i;
        for (int k = 0; k < 5; ++k, v /= 26) out.push_back(static_cast<uint8_t>('a' + v % 26));
        out.push_back(' ');
    }
    out.resize(n);
    return out;
}

Bytes headerText(uint64_t n) { return realFile("/usr/include/stdio.h", n); }

uint32_t le32At(const Bytes& f, uint64_t at) {
    uint32_t v;
    std::memcpy(&v, f.data() + at, 4);
    return v;
}
void setLe32(Bytes& f, uint64_t at, uint32_t v) { std::memcpy(f.data() + at, &v, 4); }
void addLe16(Bytes& f, uint64_t at, int delta) {
    uint16_t v;
    std::memcpy(&v, f.data() + at, 2);
    v = static_cast<uint16_t>(v + delta);
    std::memcpy(f.data() + at, &v, 2);
}

using WrtFramesTest = EncodeTest;

TEST_F(WrtFramesTest, TransformStartsAt65536Bytes) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    for (int level : {1, 3}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const Bytes below = headerText(65535);
        const Bytes at = headerText(65536);
        const Bytes plain = compressOk(below, withTrailers(level));
        const Bytes below_frame = compressOk(below, wrtOpts(level));
        EXPECT_TRUE(below_frame == plain) << "below the threshold the frame is the plain frame";
        const Bytes at_frame = compressOk(at, wrtOpts(level));
        EXPECT_TRUE(carriesWrt(at_frame)) << "65,536 bytes of C header are transformed";
        expectLibraryRestores(handle_, below_frame, below);
        expectLibraryRestores(handle_, at_frame, at);
    }
}

TEST_F(WrtFramesTest, TextsWithoutGainGivePlainFrames) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    Bytes letters(70000);
    for (size_t i = 0; i < letters.size(); ++i) letters[i] = static_cast<uint8_t>('a' + (i * 7) % 26);
    struct Case {
        const char* what;
        Bytes input;
    };
    const Case cases[] = {
        {"no word repeats", distinctWords(100000)},
        {"one letter run longer than a segment record holds", letters},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes frame = compressOk(c.input, wrtOpts(1));
        EXPECT_FALSE(carriesWrt(frame));
        EXPECT_TRUE(frame == compressOk(c.input, withTrailers(1))) << "the plain frame, byte for byte";
        expectLibraryRestores(handle_, frame, c.input);
    }
}

// The frame's root is judged on the device over the text the GPU inverse
// restored (the handle's last verdict is the device's), a damaged root fails
// the frame, and KVN_NO_DEVICE_MERKLE leaves the root to the host.
TEST_F(WrtFramesTest, TheRestoredTextIsJudgedOnTheDevice) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no kernels yet";
    const Bytes text = headerText(70000);
    const Bytes frame = compressOk(text, wrtOpts(1));
    ASSERT_TRUE(carriesWrt(frame));
    Bytes damaged = frame;
    damaged.back() ^= 0x40;
    struct Case {
        const char* what;
        const Bytes* frame;
        bool on_host;
        KvnStatus status, verdict;
    };
    const Case cases[] = {
        {"on the device", &frame, false, KVN_STATUS_SUCCESS, KVN_STATUS_SUCCESS},
        {"damaged root on the device", &damaged, false, kCorrupt, kCorrupt},
        {"on the host", &frame, true, KVN_STATUS_SUCCESS, KVN_STATUS_UNSUPPORTED},
        {"damaged root on the host", &damaged, true, kCorrupt, KVN_STATUS_UNSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.on_host) setenv("KVN_NO_DEVICE_MERKLE", "1", 1);
        Bytes out(text.size());
        uint64_t size = 0;
        DecompressOpts dopts{};
        EXPECT_EQ(kvnDecompressHost(handle_, c.frame->data(), c.frame->size(), out.data(), out.size(), &size, &dopts),
                  c.status);
        unsetenv("KVN_NO_DEVICE_MERKLE");
        EXPECT_EQ(kvnGetLastVerdict(handle_), c.verdict);
        if (c.status == KVN_STATUS_SUCCESS) EXPECT_TRUE(out == text);
    }
}

// Section field offsets from the section's start.
constexpr uint64_t kWordCountAt = 8;
constexpr uint64_t kOneByteCountAt = 12;

TEST_F(WrtFramesTest, DamagedSectionsAreCorruptFrames) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no kernels yet";
    const Bytes text = headerText(150000);
    const Bytes frame = compressOk(text, wrtOpts(1));
    ASSERT_TRUE(carriesWrt(frame));
    const FrameHeader header = parseFrameHeader(frame.data(), frame.size());
    const uint64_t section = header.wrt_section_offset;
    const uint64_t length = header.wrt_section_length;
    // The segment records end the section; K sits just before them.
    const uint64_t segment_count = wrtSegmentCount(text.size());
    const uint64_t records = section + length - 4 * segment_count;
    struct Case {
        const char* what;
        void (*damage)(Bytes&, uint64_t section, uint64_t records);
    };
    const Case cases[] = {
        {"4137 words", [](Bytes& f, uint64_t s, uint64_t) { setLe32(f, s + kWordCountAt, 4137); }},
        {"M above N", [](Bytes& f, uint64_t s, uint64_t) { setLe32(f, s + kOneByteCountAt, le32At(f, s + kWordCountAt) + 1); }},
        {"first word length 2", [](Bytes& f, uint64_t s, uint64_t) { f[s + 16] = 2; }},
        {"first word length 33", [](Bytes& f, uint64_t s, uint64_t) { f[s + 16] = 33; }},
        {"segment count one more", [](Bytes& f, uint64_t, uint64_t r) { setLe32(f, r - 4, le32At(f, r - 4) + 1); }},
        {"a segment decodes one byte short", [](Bytes& f, uint64_t, uint64_t r) { addLe16(f, r + 2, -1); }},
        {"decoded lengths moved between two segments", [](Bytes& f, uint64_t, uint64_t r) {
             addLe16(f, r + 2, -1);
             addLe16(f, r + 6, 1);
         }},
        {"encoded lengths moved between two segments", [](Bytes& f, uint64_t, uint64_t r) {
             addLe16(f, r, -1);
             addLe16(f, r + 4, 1);
         }},
    };
    constexpr uint8_t kCanary = 0xC5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = frame;
        c.damage(damaged, section, records);
        Bytes out(text.size() + 64, kCanary);
        uint64_t size = 0;
        DecompressOpts dopts{};
        const KvnStatus status =
            kvnDecompressHost(handle_, damaged.data(), damaged.size(), out.data(), text.size(), &size, &dopts);
        EXPECT_EQ(status, kCorrupt);
        EXPECT_TRUE(std::all_of(out.begin() + static_cast<ptrdiff_t>(text.size()), out.end(),
                                [](uint8_t b) { return b == kCanary; }))
            << "nothing is written past the destination";
    }
}

}  // namespace
}  // namespace kvn::test
