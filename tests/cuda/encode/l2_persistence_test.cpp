// KVN_L2_PERSIST: around the greedy LZ launches of levels 1 to 4 the encoder
// sets the persisting-L2 limit and an access-policy window over the hash
// tables on the stream of the launches, zeroes the window after the stage and reports
// the first window of the process; the frames are the same bytes as without.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

StandInL2Calls l2Calls() {
    StandInL2Calls calls{};
    standIn().l2Calls(&calls);
    return calls;
}

struct L2Case {
    std::string name;
    bool persist;     // KVN_L2_PERSIST set
    CompressOpts opts;
    uint64_t tables;  // bytes of the frame's greedy tables; 0: no window
};

// 40,000 bytes are one sub-chunk: two greedy tables of 16-bit entries, of
// 2^14 entries at level 1, 2^16 at level 2 and 2^15 at levels 3 and 4.
// Level 5 parses with workspaces of its own, which get no window.
TEST(CudaL2Persistence, WindowOverTheGreedyTables) {
    const std::vector<L2Case> cases = {
        {"unset, level 1", false, optionsAt(1), 0},
        {"set, level 1", true, optionsAt(1), 2 * 2 * 16384},
        {"set, level 2", true, optionsAt(2), 2 * 2 * 65536},
        {"set, level 3", true, optionsAt(3), 2 * 2 * 32768},
        {"set, level 4", true, optionsAt(4), 2 * 2 * 32768},
        {"set, level 5", true, withChunkSize(optionsAt(5), 0.0625f), 0},
    };
    const Bytes text = repetitiveText(40000, 41);
    for (const L2Case& c : cases) {
        SCOPED_TRACE(c.name);
        inChildProcess([&] {
            const CudaFrames plain = cudaCompress(text, c.opts);
            ASSERT_EQ(plain.status, KVN_STATUS_SUCCESS);
            if (c.persist) setenv("KVN_L2_PERSIST", "", 1);
            const StandInL2Calls before = l2Calls();
            testing::internal::CaptureStderr();
            const CudaFrames frames = cudaCompress(text, c.opts);
            const CudaFrames again = cudaCompress(text, c.opts);
            const std::string err = testing::internal::GetCapturedStderr();
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(frames.bytes == plain.bytes);
            EXPECT_TRUE(again.bytes == plain.bytes);
            const StandInL2Calls after = l2Calls();
            if (c.tables == 0) {
                EXPECT_EQ(after.limit_calls, before.limit_calls);
                EXPECT_EQ(after.windows, before.windows);
                EXPECT_EQ(err.find("l2-persist"), std::string::npos);
                return;
            }
            // Two frames: a limit and a window each, each window zeroed after its stage.
            EXPECT_EQ(after.limit_calls - before.limit_calls, 2u);
            EXPECT_EQ(after.windows - before.windows, 4u);
            EXPECT_EQ(after.zeroed_windows - before.zeroed_windows, 2u);
            // The stand-in's 4 MiB cache: its 11/16 exceed these tables, which persist whole.
            EXPECT_EQ(after.limit, c.tables);
            EXPECT_EQ(after.window_bytes, c.tables);
            EXPECT_NE(after.window_base, 0u);
            EXPECT_FLOAT_EQ(after.hit_ratio, 1.0f);
            EXPECT_EQ(after.hit_prop, 2);
            // Reported once per process, in MiB with two decimals.
            const std::string mib = c.tables == 65536 ? "0.06" : c.tables == 131072 ? "0.12" : "0.25";
            EXPECT_EQ(err, "l2-persist: set_limit rc=0 (" + mib + " MB) window rc=0 (" + mib + " MB, hitRatio 1.000)\n");
        });
    }
}

// A cache smaller than the tables: the limit is 11/16 of it and the hit
// ratio the share of the window that persists.
TEST(CudaL2Persistence, LimitFromASmallCache) {
    inChildProcess([] {
        standIn().setL2Bytes(65536);
        setenv("KVN_L2_PERSIST", "1", 1);
        const Bytes text = repetitiveText(40000, 42);
        testing::internal::CaptureStderr();
        const CudaFrames frames = cudaCompress(text, optionsAt(3));
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
        const StandInL2Calls calls = l2Calls();
        EXPECT_EQ(calls.limit, 65536u * 11 / 16);
        EXPECT_EQ(calls.window_bytes, 131072u);
        EXPECT_FLOAT_EQ(calls.hit_ratio, 45056.0f / 131072.0f);
        EXPECT_EQ(err, "l2-persist: set_limit rc=0 (0.04 MB) window rc=0 (0.12 MB, hitRatio 0.344)\n");
        const Decoded d = cudaDecompress(frames.bytes, text.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == text);
    });
}

}  // namespace
}  // namespace kvn::test
