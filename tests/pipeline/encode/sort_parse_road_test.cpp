// Level 5's two roads through the library on lavapipe: the sort-parse (single
// sub-chunk chunks of at most 65,536 bytes, no dictionary) and the chain
// parse that KVN_NO_SORT_PARSE selects instead; both restore the input, and
// the sort-parse road takes the frame's distance floor and prints its
// KVN_VK_SORT_PROF lines.
#include <cstdlib>
#include <string>
#include <vector>

#include "encode_test_support.h"
#include "support/child_process.h"

namespace kvn::test {
namespace {

using SortParseRoadTest = EncodeTest;

struct RoadCase {
    const char* what;
    Bytes input;
};

std::vector<RoadCase> roadCases() {
    return {
        {"129 bytes of 'A'", repeated(129, 'A')},
        {"random", randomBytes(100000, 3)},
        {"text", realFile("/usr/include/stdio.h", 200000)},
        {"header", realFile("/usr/include/vulkan/vulkan_core.h", 300000)},
    };
}

TEST_F(SortParseRoadTest, BothRoadsRoundTripAndDiffer) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    for (const RoadCase& c : roadCases()) {
        SCOPED_TRACE(c.what);
        const CompressOpts opts = withTrailers(5);
        const Bytes sorted = compressOk(c.input, opts);
        expectDecodersRestore(handle_, sorted, c.input, opts);
        Bytes chained;
        {
            ScopedEnv off("KVN_NO_SORT_PARSE", "1");
            chained = compressOk(c.input, opts);
        }
        expectDecodersRestore(handle_, chained, c.input, opts);
        // Real text parses differently on the two roads.
        if (c.input.size() > 100000 && c.what != std::string("random")) EXPECT_FALSE(sorted == chained);
    }
}

// A floor above 8 reaches the sort-parse (the chain parse has none): the
// frame changes and still restores the input.
TEST_F(SortParseRoadTest, FloorReachesTheSortParse) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = realFile("/usr/include/stdio.h", 150000);
    CompressOpts opts = withTrailers(5);
    const Bytes plain = compressOk(input, opts);
    opts.min_match_distance = 300;
    const Bytes floored = compressOk(input, opts);
    EXPECT_FALSE(floored == plain);
    expectDecodersRestore(handle_, floored, input, opts);
}

// KVN_VK_SORT_PROF is read once per process: a child sets it first. A
// sort-parse frame of one batch prints the three pre-pass lines and the
// parse's; a level-1 frame only the parse's.
TEST_F(SortParseRoadTest, SortProfileLines) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    inChildProcess(
        [this] {
            ::setenv("KVN_VK_SORT_PROF", "1", 1);
            const Bytes input = realFile("/usr/include/stdio.h", 150000);
            compressOk(input, withTrailers(5));
            compressOk(input, withTrailers(1));
        },
        "^vk-sort-prof: build_keys [0-9]+\\.[0-9]{6}ms\n"
        "vk-sort-prof: radix [0-9]+\\.[0-9]{6}ms\n"
        "vk-sort-prof: discover [0-9]+\\.[0-9]{6}ms\n"
        "vk-sort-prof: lz_encode\\(mode=2\\) [0-9]+\\.[0-9]{6}ms\n"
        "vk-sort-prof: lz_encode\\(mode=0\\) [0-9]+\\.[0-9]{6}ms\n$");
}

}  // namespace
}  // namespace kvn::test
