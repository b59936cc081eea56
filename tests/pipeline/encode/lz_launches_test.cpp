// A frame's LZ stage in several launches, queued one after the other on the
// encoder's stream: the frame is still the reference encoder's byte for
// byte, and the call waits for the device no more often than with one
// launch (once more where the launches' records needed padding and go back
// to the device in frame order).
#include <cstring>
#include <string>

#include "core/encode/chunk_descriptors.h"
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
    const char* batch;  // KVN_VK_FORCE_BATCH
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

// KVN_VK_FORCE_BATCH is read once per process: each case sets it in a child.
// 300,000 bytes are 5 quarter chunks (5 sub-chunks) or 2 whole chunks (3
// sub-chunks, the first two in one group); batches of 2 or 3 leave the
// second launch's records at a padded offset on a device whose binding
// alignment is above 4 bytes.
TEST_F(LzLaunchesTest, SeveralLaunchesGiveTheReferenceFrameWithoutMoreWaits) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = realFile("/usr/include/vulkan/vulkan_core.h", 300000);
    for (const LaunchCase c : {LaunchCase{"4", 1, 0.25f}, LaunchCase{"2", 2, 1.0f}, LaunchCase{"3", 2, 0.25f}}) {
        SCOPED_TRACE(std::string("batch ") + c.batch + ", level " + std::to_string(c.level) + ", fraction " +
                     std::to_string(c.fraction));
        inChildProcess([&] {
            ::setenv("KVN_VK_FORCE_BATCH", c.batch, 1);
            CompressOpts opts{};
            opts.level = c.level;
            opts.sc_group_size = c.fraction;
            compressOk(input, opts);  // the handle's buffers and stream exist from here on

            const FrameGeometry g = frameGeometry(input.size(), c.fraction);
            const uint64_t batch = wholeGroupBatch(std::stoull(c.batch), g.subs_per_group);
            const LzLaunchLayout layout = lzLaunchLayout(g.sub_chunks, batch, deviceBindingAlignment());
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
        });
    }
}

}  // namespace
}  // namespace kvn::test
