// How often a compress call waits for the device: once at each point where
// the host reads what the frame's kernels produced, the same number for a
// small frame and a large one.
#include <string>

#include "encode_test_support.h"
#include "vulkan/device/submission.h"

namespace kvn::test {
namespace {

using HostWaitsTest = EncodeTest;

TEST_F(HostWaitsTest, AFrameWaitsOnlyWhereTheHostReadsAResult) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    // Level 1: the LZ sizes, the measured sub-chunks, the frame. Levels 3
    // and 4 besides: the stream scan and the three Huffman kinds.
    struct Case {
        int32_t level;
        uint64_t waits;
    };
    const Bytes text = realFile("/usr/include/vulkan/vulkan_core.h", 600000);
    for (const Case c : {Case{1, 3}, Case{3, 7}}) {
        CompressOpts opts{};
        opts.level = c.level;
        compressOk(text, opts);  // the handle's buffers and stream exist from here on
        for (const uint64_t size : {uint64_t{40000}, uint64_t{600000}}) {
            SCOPED_TRACE("level " + std::to_string(c.level) + ", " + std::to_string(size) + " bytes");
            const Bytes input(text.begin(), text.begin() + size);
            const HostWaitCounts before = hostWaitCounts();
            const Bytes frame = compressOk(input, opts);
            const HostWaitCounts after = hostWaitCounts();
            EXPECT_EQ(after.fence_waits - before.fence_waits, c.waits);
            EXPECT_EQ(after.idle_waits - before.idle_waits, 0u);
            expectDecodersRestore(handle_, frame, input, opts);
        }
    }
}

}  // namespace
}  // namespace kvn::test
