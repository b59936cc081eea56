// The frame cap against worked examples: the caller's KVN_FRAME_CAP in whole
// chunks, the device rule per level with the binding range and the
// integrated-GPU limit, and the fallback.
#include <gtest/gtest.h>

#include "core/encode/frame_cap.h"

namespace kvn {
namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kMiB = uint64_t{1} << 20;

TEST(FrameCap, WorkedExamples) {
    const struct {
        const char* what;
        int32_t level;
        uint64_t chunk;
        const char* env;
        FrameCapDevice device;
        uint64_t bytes;
        bool integrated_limit;
    } cases[] = {
        {"KVN_FRAME_CAP in whole chunks", 1, 65536, "100000", {8 * kGiB, 0, false}, 65536, false},
        {"KVN_FRAME_CAP below a chunk is ignored", 1, 65536, "1000", {0, 0, false}, 512 * kMiB, false},
        {"KVN_FRAME_CAP not a number is ignored", 1, 65536, "64k", {0, 0, false}, 512 * kMiB, false},
        {"KVN_FRAME_CAP past 64 bits is ignored", 1, 65536, "99999999999999999999999", {0, 0, false}, 512 * kMiB,
         false},
        {"KVN_FRAME_CAP above 16,384 chunks", 1, 4096, "1000000000", {0, 0, false}, 4096 * 16384, false},
        // 8 GiB: 4 GiB / 7 = 613566756, in whole 64 KiB chunks 613548032.
        {"8 GiB heap at level 1", 1, 65536, nullptr, {8 * kGiB, 0, false}, 613548032, false},
        {"8 GiB heap at level 1, 128 MiB bindings", 1, 65536, nullptr, {8 * kGiB, 128 * kMiB, false}, 32 * kMiB,
         false},
        {"8 GiB heap at level 2", 2, 65536, nullptr, {8 * kGiB, 0, false}, 4 * kGiB / 9 / 65536 * 65536, false},
        {"level 5 on an integrated GPU", 5, 65536, nullptr, {16 * kGiB, 0, true}, 64 * kMiB, true},
        {"level 5 on a discrete GPU", 5, 65536, nullptr, {16 * kGiB, 0, false}, 8 * kGiB / 16, false},
        {"level 1 on an integrated GPU: 16,384 chunks", 1, 65536, nullptr, {16 * kGiB, 0, true}, kGiB, false},
        {"heap under a GiB: the fallback", 1, 65536, nullptr, {512 * kMiB, 0, false}, 512 * kMiB, false},
        {"no heap known, small chunks", 1, 1024, nullptr, {0, 0, false}, 1024 * 16384, false},
    };
    for (const auto& c : cases) {
        const FrameCap cap = frameCap(c.level, c.chunk, c.env, c.device);
        EXPECT_EQ(cap.bytes, c.bytes) << c.what;
        EXPECT_EQ(cap.integrated_limit, c.integrated_limit) << c.what;
    }
}

}  // namespace
}  // namespace kvn
