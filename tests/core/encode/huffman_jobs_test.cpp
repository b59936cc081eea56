// The Huffman jobs of a frame: every stream's room fixed before coding, the
// off16 byte streams only from 32 entries up, high bytes first.
#include <gtest/gtest.h>

#include "core/encode/huffman_jobs.h"

namespace kvn {

static bool operator==(const HuffEncodeDesc& a, const HuffEncodeDesc& b) {
    return a.src_off == b.src_off && a.count == b.count && a.stride == b.stride && a.out_off == b.out_off &&
           a.out_cap == b.out_cap;
}

namespace {

TEST(HuffmanJobs, CapacityIsTwoBytesASymbolPlus359InWholeWords) {
    EXPECT_EQ(huffCapacity(0), 0u);
    EXPECT_EQ(huffCapacity(1), 360u);
    EXPECT_EQ(huffCapacity(2), 360u);
    EXPECT_EQ(huffCapacity(3), 364u);
    EXPECT_EQ(huffCapacity(131072), 262500u);
}

TEST(HuffmanJobs, LaneWidthCoversTheLongestStream) {
    const HuffEncodeDesc jobs[] = {{0, 31, 1, 0, 0}, {0, 131072, 1, 0, 0}, {0, 0, 1, 0, 0}};
    EXPECT_EQ(huffLaneWidth(std::span(jobs, 1)), 128u);
    EXPECT_EQ(huffLaneWidth(jobs), 8320u);
}

TEST(HuffmanJobs, LiteralAndTokenStreamsFollowEachOther) {
    const LzStreamScan scans[] = {{11, 100, 200, 5, 0, 0}, {0, 0, 0, 0, 0, 0}, {300, 7, 400, 1, 0, 0}};
    std::vector<HuffEncodeDesc> jobs;
    EXPECT_EQ(streamJobs(scans, HuffKind::Literals, jobs), 556u + 372u);
    EXPECT_EQ(jobs, (std::vector<HuffEncodeDesc>{{11, 100, 1, 0, 556}, {0, 0, 1, 556, 0}, {300, 7, 1, 556, 372}}));
    EXPECT_EQ(streamJobs(scans, HuffKind::Tokens, jobs), 368u + 360u);
    EXPECT_EQ(jobs, (std::vector<HuffEncodeDesc>{{200, 5, 1, 0, 368}, {0, 0, 1, 368, 0}, {400, 1, 1, 368, 360}}));
}

// 31 entries stay uncoded; 32 give two jobs over the entries' bytes, the
// high bytes (one past the entry start) among the first half of the jobs.
TEST(HuffmanJobs, Off16StreamsSplitFrom32Entries) {
    const LzStreamScan scans[] = {{0, 0, 0, 0, 1000, 31}, {0, 0, 0, 0, 2000, 32}, {0, 0, 0, 0, 3000, 40}};
    std::vector<HuffEncodeDesc> jobs;
    EXPECT_EQ(off16Jobs(scans, jobs), 2u * 420u + 2u * 436u);
    const std::vector<HuffEncodeDesc> want = {
        {0, 0, 2, 0, 0},       {2001, 32, 2, 0, 420},   {3001, 40, 2, 840, 436},
        {0, 0, 2, 0, 0},       {2000, 32, 2, 420, 420}, {3000, 40, 2, 1276, 436},
    };
    EXPECT_EQ(jobs, want);
}

}  // namespace
}  // namespace kvn
