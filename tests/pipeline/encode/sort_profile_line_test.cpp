// The KVN_VK_SORT_PROF line: milliseconds truncated (not rounded) to whole
// nanoseconds.
#include <gtest/gtest.h>

#include "pipeline/encode/sort_prepass.h"

namespace kvn {
namespace {

TEST(SortProfileLine, MillisecondsTruncatedToNanoseconds) {
    struct Case {
        const char* what;
        double ms;
        const char* line;
    };
    const Case cases[] = {
        {"build_keys", 1.2345678, "vk-sort-prof: build_keys 1.234567ms"},
        {"radix", 0.0000009, "vk-sort-prof: radix 0.000000ms"},
        {"discover", 250.5, "vk-sort-prof: discover 250.500000ms"},
        {"lz_encode(mode=2)", 0, "vk-sort-prof: lz_encode(mode=2) 0.000000ms"},
    };
    for (const Case& c : cases) EXPECT_EQ(sortProfileLine(c.what, c.ms), c.line) << c.ms;
}

}  // namespace
}  // namespace kvn
