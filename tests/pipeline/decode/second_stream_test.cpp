// The decode's second stream on Vulkan: the Merkle pass on the auxiliary
// command buffer and the copy-out on the device-to-host one, each with its
// switch off. The bytes and the verdicts are the same on every road; the
// command-buffer trace shows which road ran.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/integrity/merkle.h"
#include "decode_test_support.h"
#include "reference/reference_codec.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct Switches {
    const char* name;
    bool no_aux;
    bool no_aux_d2h;
};

constexpr Switches kSwitches[] = {
    {"both parts", false, false},
    {"KVN_VK_NO_AUX", true, false},
    {"KVN_VK_NO_AUX_D2H", false, true},
    {"both switches", true, true},
};

void decodeFramesWith(const Switches& s) {
    if (s.no_aux) setenv("KVN_VK_NO_AUX", "1", 1);
    if (s.no_aux_d2h) setenv("KVN_VK_NO_AUX_D2H", "1", 1);
    setenv("KVN_VK_CB_TRACE", "1", 1);
    readyOps();
    ChildHandle handle;
    const float sc = 1.0f / 64;  // 4 KiB chunks: many leaves, prefixes to restore
    const Bytes text = realBytes(60000, 3);
    struct Frame {
        const char* name;
        Bytes bytes;
    };
    const Frame frames[] = {
        {"level 1", ref::compressFrame(text, ref::encodeOptionsForLevel(1, sc), withRoot(sc, true))},
        {"level 3", ref::compressFrame(text, ref::encodeOptionsForLevel(3, sc), withRoot(sc, true))},
    };
    for (const Frame& f : frames) ASSERT_EQ(ref::decodeFrame(f.bytes, {}).error, Error::None) << f.name;
    testing::internal::CaptureStderr();
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.name);
        const Decoded d = decodeHost(handle.get(), f.bytes, text.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == text);
        EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS) << "the device judged the frame";
        Bytes wrong = f.bytes;
        wrong.back() ^= 0x40;  // the stored root
        EXPECT_EQ(decodeHost(handle.get(), wrong, text.size()).status, KVN_STATUS_CORRUPT_FRAME);
        EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_CORRUPT_FRAME);
    }
    const std::string trace = testing::internal::GetCapturedStderr();
    const bool aux = trace.find("submit lz (aux dance)") != std::string::npos;
    const bool d2h = trace.find("reset streamBeginXferD2H") != std::string::npos;
    EXPECT_EQ(aux, !s.no_aux) << "the Merkle pass on the auxiliary command buffer";
    EXPECT_EQ(d2h, !s.no_aux && !s.no_aux_d2h) << "the copy-out on the device-to-host command buffer";
}

TEST(DecodeSecondStream, BytesAndVerdictsAreTheSameOnEveryRoad) {
    for (const Switches& s : kSwitches) {
        SCOPED_TRACE(s.name);
        inChildProcess([&s] { decodeFramesWith(s); });
    }
}

}  // namespace
}  // namespace kvn::test
