#include <gtest/gtest.h>

#include <cstddef>

#include "test_support.h"
#include "vulkan/device/gpu_ops.h"

namespace kvn {
namespace {

// The slots stand in their fixed order, then the timestamp period.
static_assert(offsetof(GpuOpsTable, memAlloc) == 0 * sizeof(void*));
static_assert(offsetof(GpuOpsTable, memGetInfo) == 12 * sizeof(void*));
static_assert(offsetof(GpuOpsTable, streamSynchronize) == 17 * sizeof(void*));
static_assert(offsetof(GpuOpsTable, ctxSetCurrent) == 20 * sizeof(void*));
static_assert(offsetof(GpuOpsTable, streamCreate) == 22 * sizeof(void*));
static_assert(offsetof(GpuOpsTable, launchKernel) == 29 * sizeof(void*));
static_assert(offsetof(GpuOpsTable, memcpyDtoHXferAsync) == 32 * sizeof(void*));
static_assert(offsetof(GpuOpsTable, streamWaitEvent) == 33 * sizeof(void*));
static_assert(offsetof(GpuOpsTable, timestamp_period) == 34 * sizeof(void*));
static_assert(sizeof(CopyRegion) == 24);

// This process never brings the device up.
TEST(GpuOpsTable, BeforeBringUpOnlyTheContextSlotsExist) {
    test::expectOnlyContextSlots();
    const GpuOpsTable& ops = gpuOps();

    EXPECT_EQ(ops.ctxSetCurrent(nullptr), Error::None);
    void* current = &current;
    EXPECT_EQ(ops.ctxGetCurrent(&current), Error::None);
    EXPECT_EQ(current, nullptr);
}

TEST(GpuOpsTable, ClearingKeepsTheContextSlots) {
    GpuOpsTable& ops = gpuOps();
    const GpuOpsTable saved = ops;
    fillGpuOps();
    ops.timestamp_period = 41.5f;
    EXPECT_NE(ops.streamCreate, nullptr);
    clearGpuOps();
    EXPECT_EQ(ops.streamCreate, nullptr);
    EXPECT_EQ(ops.timestamp_period, 1.0f);
    EXPECT_EQ(ops.ctxSetCurrent(nullptr), Error::None);
    ops = saved;
}

}  // namespace
}  // namespace kvn
