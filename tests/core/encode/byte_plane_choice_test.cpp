// The automatic byte-plane stride against worked examples, and the strides
// KVN_BYTE_PLANE's text names.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/encode/byte_plane_choice.h"

namespace kvn {
namespace {

std::vector<uint8_t> counters(uint32_t count) {
    std::vector<uint8_t> out(4 * uint64_t{count});
    for (uint32_t i = 0; i < count; ++i) std::memcpy(out.data() + 4 * uint64_t{i}, &i, 4);
    return out;
}

TEST(BytePlaneChoice, WorkedExamples) {
    // 0..16383 as u32: entropy 4.73; stride 4 gives 3.5 (taken), 8 and 16 do
    // not beat 0.8 x 3.5, 32 gives 2.75 (taken).
    const std::vector<uint8_t> u32s = counters(16384);
    EXPECT_EQ(chooseBytePlaneStride(u32s.data(), u32s.size()), 32);

    const std::vector<uint8_t> constant(65536, 9);
    EXPECT_EQ(chooseBytePlaneStride(constant.data(), constant.size()), 0) << "entropy 0";

    const std::vector<uint8_t> short_input(u32s.begin(), u32s.begin() + 31);
    EXPECT_EQ(chooseBytePlaneStride(short_input.data(), short_input.size()), 0) << "under 32 bytes";

    // 40 bytes of u32 counters: only strides up to 8 have 4 elements in the sample.
    const std::vector<uint8_t> forty(u32s.begin(), u32s.begin() + 40);
    const uint8_t w = chooseBytePlaneStride(forty.data(), forty.size());
    EXPECT_LE(w, 8);

    const std::vector<uint8_t> more = counters(16385);
    const std::vector<uint8_t> odd(more.begin(), more.begin() + 65537);
    EXPECT_EQ(chooseBytePlaneStride(odd.data(), odd.size()), 0) << "65,537 bytes: no stride divides them";
}

TEST(BytePlaneChoice, EnvironmentText) {
    const struct {
        const char* text;
        uint8_t stride;
    } cases[] = {{nullptr, 0}, {"", 2}, {"1", 2}, {"2", 2}, {"28", 28}, {"32", 32}, {"5", 0},  {"0", 0},
                 {"x", 0},     {"4x", 0}, {" 4", 0}, {"+4", 0}, {"-4", 0}, {"256", 0}, {"99999999999999999999", 0}};
    for (const auto& c : cases) EXPECT_EQ(bytePlaneStrideFromText(c.text), c.stride) << (c.text ? c.text : "unset");
}

}  // namespace
}  // namespace kvn
