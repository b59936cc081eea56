#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_support.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::launchAddWords;
using test::readyOps;

TEST(Events, HandlesAreHandedOutOnceAndTakenBackOnce) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        std::vector<uint64_t> events;
        uint64_t event = 0;
        // Never handed out yet.
        EXPECT_EQ(ops.eventDestroy(5), Error::BadRequest);
        while (ops.eventCreate(&event, 0) == Error::None) events.push_back(event);
        ASSERT_EQ(events.size(), 2048u);
        EXPECT_EQ(events.front(), 2048u);  // the top of the free list is query 2047
        EXPECT_EQ(events.back(), 1u);

        EXPECT_EQ(ops.eventDestroy(0), Error::None);
        EXPECT_EQ(ops.eventDestroy(4095), Error::BadRequest);  // the whole-decode profile pair
        EXPECT_EQ(ops.eventDestroy(4096), Error::BadRequest);
        EXPECT_EQ(ops.eventDestroy(4097), Error::BadRequest);
        EXPECT_EQ(ops.eventDestroy(2049), Error::BadRequest);  // a query no event uses
        EXPECT_EQ(ops.eventDestroy(events[10]), Error::None);
        EXPECT_EQ(ops.eventDestroy(events[10]), Error::BadRequest);
        EXPECT_EQ(ops.eventRecord(events[10], 0), Error::BadRequest);
        EXPECT_EQ(ops.eventRecord(0, 0), Error::BadRequest);
        ASSERT_EQ(ops.eventCreate(&event, 0), Error::None);
        EXPECT_EQ(event, events[10]);
        EXPECT_EQ(ops.eventCreate(&event, 0), Error::BadRequest);
        // The low 32 bits name the event.
        EXPECT_EQ(ops.eventDestroy((uint64_t{7} << 32) | events[20]), Error::None);
        EXPECT_EQ(ops.eventDestroy(events[20]), Error::BadRequest);
    });
}

TEST(Events, ElapsedTimeBetweenTwoTimestamps) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        ASSERT_TRUE(ensureEncodePipelines());
        uint64_t stream = 0, start = 0, end = 0, a = 0, b = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        ASSERT_EQ(ops.eventCreate(&start, 0), Error::None);
        ASSERT_EQ(ops.eventCreate(&end, 0), Error::None);
        ASSERT_EQ(ops.memAlloc(&a, 1 << 20), Error::None);
        ASSERT_EQ(ops.memAlloc(&b, 1 << 20), Error::None);

        // Not recorded yet: nothing to read (and nothing to hang on).
        float ms = 5.0f;
        EXPECT_EQ(ops.eventElapsedTime(&ms, start, end), Error::BadRequest);
        EXPECT_EQ(ms, 0.0f);
        EXPECT_EQ(ops.eventElapsedTime(&ms, 0, end), Error::BadRequest);

        ASSERT_EQ(ops.eventRecord(start, stream), Error::None);
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ(launchAddWords(encodeKernels().byte_plane_deinterleave_fn, a, b, 1 << 18, 1, stream), Error::None);
        ASSERT_EQ(ops.eventRecord(end, stream), Error::None);
        EXPECT_EQ(ops.eventSynchronize(0), Error::BadRequest);
        ASSERT_EQ(ops.eventSynchronize(end), Error::None);  // ends the open stream
        EXPECT_FALSE(streamRecord(stream)->compute_begun);
        ASSERT_EQ(ops.eventElapsedTime(&ms, start, end), Error::None);
        EXPECT_GT(ms, 0.0f);
        EXPECT_TRUE(std::isfinite(ms));

        // Milliseconds are ticks times the period.
        GpuOpsTable& table = gpuOps();
        const float period = table.timestamp_period;
        table.timestamp_period = period * 4;
        float scaled = 0.0f;
        ASSERT_EQ(ops.eventElapsedTime(&scaled, start, end), Error::None);
        EXPECT_FLOAT_EQ(scaled, ms * 4);
        table.timestamp_period = period;

        // Recorded synchronously, the end before the start: no negative time.
        ASSERT_EQ(ops.eventRecord(end, 0), Error::None);
        ASSERT_EQ(ops.eventRecord(start, 0), Error::None);
        ASSERT_EQ(ops.eventElapsedTime(&ms, start, end), Error::None);
        EXPECT_EQ(ms, 0.0f);
        ASSERT_EQ(ops.eventElapsedTime(&ms, end, start), Error::None);
        EXPECT_GE(ms, 0.0f);
        EXPECT_EQ(ops.eventDestroy(start), Error::None);
        EXPECT_EQ(ops.eventElapsedTime(&ms, start, end), Error::BadRequest);
    });
}

}  // namespace
}  // namespace kvn
