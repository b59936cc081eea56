// How the LZ stage cuts a frame into launches: the device's bound as whole
// groups at bindable offsets, and where each launch's descriptors and sizes
// lie.
#include <gtest/gtest.h>

#include "core/encode/lz_batch_plan.h"

namespace kvn {
namespace {

TEST(LzBatchPlan, BoundedBatchIsWholeGroupsAtBindableOffsets) {
    const struct {
        uint64_t launch_bytes, sub;
        uint32_t spc;
        uint64_t alignment, batch;
    } cases[] = {
        {0, 65536, 1, 16, 0},               // no bound
        {4 << 20, 65536, 1, 16, 64},        // 4 MiB of quarter chunks
        {4 << 20, 131072, 2, 16, 32},       // of whole chunks, two sub-chunks each
        {4 << 20, 65536, 1, 256, 64},       // 64 sizes fill a 256-byte unit
        {1 << 20, 65536, 1, 256, 64},       // and so at least 64
        {3 * 65536, 65536, 1, 16, 4},       // 3 rounded up to 4 sizes a unit
        {9 * 65536, 65536, 3, 16, 12},      // groups of 3 and units of 4
        {100, 65536, 1, 1, 1},              // less than a sub-chunk: one
        {5 * 65536, 65536, 1, 4, 5},        // 4-byte offsets bind anywhere
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.launch_bytes << " bytes, sub " << c.sub << ", spc " << c.spc
                                        << ", alignment " << c.alignment);
        EXPECT_EQ(boundedLzBatch(c.launch_bytes, c.sub, c.spc, c.alignment), c.batch);
    }
}

TEST(LzBatchPlan, BatchTakesTheSmallerOfForcedAndBound) {
    EXPECT_EQ(lzBatch(512, 0, 0), 512u);
    EXPECT_EQ(lzBatch(512, 0, 64), 64u);
    EXPECT_EQ(lzBatch(512, 7, 64), 7u);
    EXPECT_EQ(lzBatch(512, 100, 64), 64u);
    EXPECT_EQ(lzBatch(50, 0, 64), 50u);
    EXPECT_EQ(lzBatch(50, 600, 0), 50u);
}

TEST(LzBatchPlan, LaunchesLayTheirRecordsAtBindableOffsets) {
    // Batches of 4 with 16-byte offsets: the frame's records in order.
    LzLaunchLayout layout = lzLaunchLayout(10, 4, 16);
    ASSERT_EQ(layout.launches.size(), 3u);
    EXPECT_TRUE(layout.packed);
    EXPECT_EQ(layout.desc_bytes, 200u);
    EXPECT_EQ(layout.size_bytes, 40u);
    EXPECT_EQ(layout.launches[2].first, 8u);
    EXPECT_EQ(layout.launches[2].count, 2u);
    EXPECT_EQ(layout.launches[2].desc_offset, 160u);
    EXPECT_EQ(layout.launches[2].size_offset, 32u);

    // Batches of 3: the second launch's records start at the next 16 bytes.
    layout = lzLaunchLayout(7, 3, 16);
    ASSERT_EQ(layout.launches.size(), 3u);
    EXPECT_FALSE(layout.packed);
    EXPECT_EQ(layout.launches[1].desc_offset, 64u);
    EXPECT_EQ(layout.launches[1].size_offset, 16u);
    EXPECT_EQ(layout.launches[2].desc_offset, 128u);
    EXPECT_EQ(layout.launches[2].size_offset, 32u);
    EXPECT_EQ(layout.launches[2].count, 1u);
    EXPECT_EQ(layout.desc_bytes, 148u);
    EXPECT_EQ(layout.size_bytes, 36u);

    // One launch for the frame.
    layout = lzLaunchLayout(5, 5, 256);
    ASSERT_EQ(layout.launches.size(), 1u);
    EXPECT_TRUE(layout.packed);
    EXPECT_EQ(layout.desc_bytes, 100u);
}

}  // namespace
}  // namespace kvn
