// A frame's LZ stage in several launches, queued one after the other on the
// encoder's stream: the frame is still the reference encoder's byte for
// byte, and the call waits for the device no more often than with one
// launch (once more where the launches' records needed padding and go back
// to the device in frame order).
#include <cstring>
#include <string>

#include "core/encode/frame_geometry.h"
#include "core/encode/lz_batch_plan.h"
#include "encode_test_support.h"
#include "pipeline/device/backend_hooks.h"
#include "tests/support/child_process.h"
#include "vulkan/device/submission.h"

namespace kvn::test {
namespace {

using LzLaunchesTest = EncodeTest;

struct LaunchCase {
    int32_t level;
    float fraction;
};

// Levels 1 and 2 wait for the LZ sizes, the measured sub-chunks and the frame.
constexpr uint64_t kWaitsOfOneLaunch = 3;

uint64_t lzLaunchesOfLastCall(void* handle) {
    TimingEntry entries[256];
    uint64_t count = 0;
    EXPECT_EQ(kvnGetLastTimings(handle, entries, 256, &count), 0u);
    uint64_t launches = 0;
    for (uint64_t i = 0; i < count && i < 256; ++i) launches += std::strcmp(entries[i].label, "kvnLzEncodeKernel") == 0;
    return launches;
}

// KVN_VK_FORCE_BATCH is read once per process: the test sets it in a child.
// 600,000 bytes are 10 quarter chunks (10 sub-chunks, launches of 4, 4 and
// 2) or 3 whole chunks (6 sub-chunks in groups of 2, launches of 4 and 2).
// Batches whose records need padding are the forced batches of one in the
// level-5 tests.
TEST_F(LzLaunchesTest, SeveralLaunchesGiveTheReferenceFrameWithoutMoreWaits) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = realFile("/usr/include/vulkan/vulkan_core.h", 600000);
    constexpr uint64_t kBatch = 4;
    inChildProcess([&] {
        ::setenv("KVN_VK_FORCE_BATCH", std::to_string(kBatch).c_str(), 1);
        for (const LaunchCase c : {LaunchCase{1, 0.25f}, LaunchCase{2, 1.0f}}) {
            SCOPED_TRACE("level " + std::to_string(c.level) + ", fraction " + std::to_string(c.fraction));
            CompressOpts opts{};
            opts.level = c.level;
            opts.sc_group_size = c.fraction;
            compressOk(input, opts);  // the handle's buffers and stream exist from here on

            const FrameGeometry g = frameGeometry(input.size(), c.fraction);
            const LzLaunchLayout layout = lzLaunchLayout(g.sub_chunks, kBatch, deviceBindingAlignment());
            ASSERT_GT(layout.launches.size(), 1u);

            const HostWaitCounts before = hostWaitCounts();
            const Bytes frame = compressOk(input, opts);
            const HostWaitCounts after = hostWaitCounts();
            EXPECT_TRUE(frame == referenceFrame(input, opts)) << "the GPU frame is the reference encoder's";
            EXPECT_EQ(after.fence_waits - before.fence_waits, kWaitsOfOneLaunch + (layout.packed ? 0 : 1));
            EXPECT_EQ(after.idle_waits - before.idle_waits, 0u);

            opts.record_timings = 1;
            EXPECT_TRUE(compressOk(input, opts) == frame);
            EXPECT_EQ(lzLaunchesOfLastCall(handle_), layout.launches.size());
            expectDecodersRestore(handle_, frame, input, opts);
        }
    });
}

}  // namespace
}  // namespace kvn::test
