// A stream's progress marks and the fence wait that follows them: a
// submission of many launches may outlast one wait while its launches go on
// finishing; a wait during which none finished still reports the wedge.
#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/submission.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::launchAddWords;
using test::readyOps;

// Each wait of the script returns its result and then moves the progress
// word by its step, as the device's marks would during that wait.
struct ScriptedWait {
    VkResult result;
    uint32_t step;
};

TEST(StreamProgress, WaitGoesOnOnlyWhileTheMarksAdvance) {
    const struct {
        const char* what;
        bool with_word;
        std::vector<ScriptedWait> script;
        VkResult result;
        size_t waits;
    } cases[] = {
        {"done in one wait", true, {{VK_SUCCESS, 0}}, VK_SUCCESS, 1},
        {"two waits with marks, then done", true, {{VK_TIMEOUT, 1}, {VK_TIMEOUT, 3}, {VK_SUCCESS, 0}}, VK_SUCCESS, 3},
        {"a wait without a mark is the wedge", true, {{VK_TIMEOUT, 1}, {VK_TIMEOUT, 0}, {VK_SUCCESS, 0}}, VK_TIMEOUT, 2},
        {"no word: one wait", false, {{VK_TIMEOUT, 1}, {VK_SUCCESS, 0}}, VK_TIMEOUT, 1},
        {"an error ends the wait", true, {{VK_ERROR_DEVICE_LOST, 1}, {VK_SUCCESS, 0}}, VK_ERROR_DEVICE_LOST, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t word = 7;
        size_t waits = 0;
        const VkResult result = waitWhileProgressing(
            [&] {
                const ScriptedWait& w = c.script[waits++];
                word += w.step;
                return w.result;
            },
            c.with_word ? &word : nullptr);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(waits, c.waits);
    }
}

// Every compute barrier leaves a mark; after the stream ends the word holds
// the last one.
TEST(StreamProgress, EachComputeBarrierLeavesAMark) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        ASSERT_TRUE(ensureEncodePipelines());
        const KernelHandle add = encodeKernels().byte_plane_deinterleave_fn;
        uint64_t stream = 0, a = 0, b = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        for (uint64_t* h : {&a, &b}) ASSERT_EQ(ops.memAlloc(h, 256 * 4), Error::None);
        const StreamProgress& progress = streamRecord(stream)->progress;
        EXPECT_EQ(progress.word, nullptr) << "made with the stream's first barrier";
        std::vector<uint32_t> words(256, 5), out(256, 0);
        ASSERT_EQ(ops.memcpyHtoDAsync(a, words.data(), 256 * 4, stream), Error::None);
        for (uint32_t launch = 0; launch < 3; ++launch) {
            ASSERT_EQ(launchAddWords(add, launch % 2 ? b : a, launch % 2 ? a : b, 256, 1, stream), Error::None);
            ASSERT_EQ(ops.streamComputeBarrier(stream), Error::None);
        }
        ASSERT_EQ(ops.memcpyDtoHAsync(out.data(), b, 256 * 4, stream), Error::None);
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        ASSERT_NE(progress.word, nullptr);
        EXPECT_EQ(progress.marks, 3u);
        EXPECT_EQ(*progress.word, 3u);
        EXPECT_EQ(out[0], 8u);
        EXPECT_EQ(out[255], 8u);
    });
}

}  // namespace
}  // namespace kvn
