#include <gtest/gtest.h>

#include "core/format/compress_bound.h"

namespace kvn {
namespace {

TEST(CompressBound, Values) {
    const struct {
        uint64_t n, bound;
    } cases[] = {
        {0, 108},
        {1, 1 + 308 + 22 + 108},
        {65536, 65536 + 3 + 308 + 22 + 108},
        {131073, 131073 + 6 + 2 * 308 + 22 + 108},
        {uint64_t{1} << 40, (uint64_t{1} << 40) + 3 * (uint64_t{1} << 24) + 308 * (uint64_t{1} << 23) +
                                22 * (uint64_t{1} << 22) + 108},
        // Sizes whose bound does not fit saturate instead of wrapping to a small figure.
        {UINT64_MAX - 1000, UINT64_MAX},
        {UINT64_MAX, UINT64_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(compressBound(c.n), c.bound) << c.n;
}

}  // namespace
}  // namespace kvn
