// The host kernel runtime: barriers, warp collectives, cooperative launches,
// and the faults it reports instead of hanging or computing garbage. The test
// kernels are written in the kernel dialect and built for the host only.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernels/dialect.h"
#include "tests/kernel_runtime/launch.h"

// ---- test kernels -----------------------------------------------------------------

KVN_SHARED(u32, rotate_slots, 64)

// Threads from `stay` on return at once; the rest pass values around through
// shared memory at barriers, which count only live threads.
#define KVN_KERNEL kvnTestEarlyExitKernel
#define KVN_BLOCK_X 64
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RW, u32, out)                   \
    SCALAR(u32, stay)                             \
    SCALAR(u32, rounds)
#include "kernels/kernel_begin.h"
KVN_FN void kvnMain() {
    u32 t = kvnThreadIndex();
    if (t >= stay) return;
    u32 v = t;
    for (u32 r = 0u; r < rounds; ++r) {
        rotate_slots[t] = v;
        kvnBarrier();
        v = rotate_slots[(t + 1u) % stay] + 1u;
        kvnBarrier();
    }
    out[kvnBlockIndex() * kvn_block_threads + t] = v;
}
#include "kernels/kernel_end.h"

// Misuses of warp collectives, chosen by `mode`.
#define KVN_KERNEL kvnTestWarpMisuseKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) SCALAR(u32, mode)
#include "kernels/kernel_begin.h"
KVN_FN void kvnMain() {
    u32 lane = kvnLane();
    if (mode == 0u) {  // half the warp returns before the collective
        if (lane >= 16u) return;
        kvnBallot(true);
    } else {  // lanes call different collectives
        if ((lane & 1u) == 0u) {
            kvnBallot(true);
        } else {
            kvnWarpReduceAdd(lane);
        }
    }
}
#include "kernels/kernel_end.h"

// Half the threads wait at a block barrier, half at a warp collective (which
// only the host and CUDA builds allow in a barrier kernel).
#define KVN_KERNEL kvnTestDeadlockKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR)
#include "kernels/kernel_begin.h"
KVN_FN void kvnMain() {
    if (kvnLane() < 16u) {
        kvnBarrier();
    } else {
        kvnBallot(true);
    }
}
#include "kernels/kernel_end.h"

// A kernel declared without synchronisation that calls a barrier anyway.
#define KVN_KERNEL kvnTestUndeclaredBarrierKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR)
#include "kernels/kernel_begin.h"
KVN_FN void kvnMain() { kvnBarrier(); }
#include "kernels/kernel_end.h"

KVN_SHARED(u32, spin_flag, 1)

// Thread 63, the last to reach the barrier and so the first to leave it,
// spins until thread 0 raises a flag: kvnSpinPause lets the other fibers of
// its block run.
#define KVN_KERNEL kvnTestSpinKernel
#define KVN_BLOCK_X 64
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) BUFFER(0, KVN_RW, u32, out)
#include "kernels/kernel_begin.h"
KVN_FN void kvnMain() {
    u32 t = kvnThreadIndex();
    if (t == 0u) spin_flag[0] = 0u;
    kvnBarrier();
    if (t == 63u) {
        u32 spins = 0u;
        while (kvnAtomicOr(spin_flag[0], 0u) == 0u) {
            kvnSpinPause();
            ++spins;
        }
        out[kvnBlockIndex()] = spins > 0u ? 1u : 2u;
    }
    if (t == 0u) kvnAtomicExchange(spin_flag[0], 1u);
}
#include "kernels/kernel_end.h"

// Recursion deep enough to pass the end of any fiber stack.
KVN_FN u32 deepRecursion(u32 depth) {
    volatile u32 frame[256];
    frame[depth & 255u] = depth;
    return depth == 0u ? 0u : deepRecursion(depth - 1u) + frame[depth & 255u];
}

#define KVN_KERNEL kvnTestStackOverflowKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) BUFFER(0, KVN_RW, u32, out)
#include "kernels/kernel_begin.h"
KVN_FN void kvnMain() {
    kvnBarrier();
    out[kvnThreadIndex()] = deepRecursion(1u << 16);
}
#include "kernels/kernel_end.h"

// ---- tests ---------------------------------------------------------------------------

namespace {

using kvn::host::LaunchResult;
using kvn::host::runKernel;

TEST(HostRuntimeBarrier, CountsOnlyLiveThreads) {
    struct Case {
        uint32_t stay, rounds, blocks;
    };
    for (Case c : {Case{64, 5, 3}, Case{40, 5, 9}, Case{1, 3, 2}, Case{63, 200, 17}}) {
        std::vector<uint32_t> out(c.blocks * 64, UINT32_MAX);
        uint32_t* p = out.data();
        LaunchResult r = runKernel("kvnTestEarlyExitKernel", {.grid_x = c.blocks}, p, c.stay, c.rounds);
        ASSERT_TRUE(r.ok()) << r.fault;
        for (uint32_t b = 0; b < c.blocks; ++b) {
            for (uint32_t t = 0; t < 64; ++t) {
                // After each round a thread holds its right neighbour's previous value plus one.
                uint32_t want = t < c.stay ? (t + c.rounds) % c.stay + c.rounds : UINT32_MAX;
                ASSERT_EQ(out[b * 64 + t], want) << "stay " << c.stay << " block " << b << " thread " << t;
            }
        }
    }
}

TEST(HostRuntimeFaults, MisusedCollectivesAndBarriersAreReported) {
    struct Case {
        const char* kernel;
        uint32_t mode;
        const char* fault;
    };
    const Case cases[] = {
        {"kvnTestWarpMisuseKernel", 0, "reached by 16 of 32 lanes"},
        {"kvnTestWarpMisuseKernel", 1, "different warp collectives"},
    };
    for (const Case& c : cases) {
        LaunchResult r = runKernel(c.kernel, {.grid_x = 4}, c.mode);
        EXPECT_NE(r.fault.find(c.fault), std::string::npos) << c.mode << ": " << r.fault;
    }
    LaunchResult r = runKernel("kvnTestDeadlockKernel", {.grid_x = 3});
    EXPECT_NE(r.fault.find("deadlocked: of 32 live threads, 16 wait at a block barrier"), std::string::npos) << r.fault;
    r = runKernel("kvnTestUndeclaredBarrierKernel", {.grid_x = 2});
    EXPECT_NE(r.fault.find("declared without synchronisation"), std::string::npos) << r.fault;
}

TEST(HostRuntimeFaults, BadLaunchesAreReported) {
    uint32_t* p = nullptr;
    EXPECT_NE(runKernel("kvnNoSuchKernel", {}).fault.find("no host build"), std::string::npos);
    EXPECT_NE(runKernel("kvnTestEarlyExitKernel", {}, p, 1u).fault.find("2 arguments given, 3"), std::string::npos);
    EXPECT_NE(runKernel("kvnTestEarlyExitKernel", {}, p, uint64_t{1}, 1u).fault.find("argument 1 has 8 bytes"),
              std::string::npos);
    EXPECT_NE(runKernel("kvnTestEarlyExitKernel", {.block_x = 32}, p, 1u, 1u).fault.find("built for 64 x 1"),
              std::string::npos);
    EXPECT_NE(runKernel("kvnProbeCooperativeKernel", {.grid_x = 2}, p, 1u, p).fault.find("cooperative launch"),
              std::string::npos);
    EXPECT_TRUE(runKernel("kvnTestEarlyExitKernel", {.grid_x = 0}, p, 1u, 1u).ok());
}

TEST(HostRuntimeSpin, SpinPauseLetsTheBlockProgress) {
    std::vector<uint32_t> out(5, 0);
    uint32_t* p = out.data();
    LaunchResult r = runKernel("kvnTestSpinKernel", {.grid_x = 5, .workers = 2}, p);
    ASSERT_TRUE(r.ok()) << r.fault;
    EXPECT_EQ(out, std::vector<uint32_t>(5, 1u));
}

TEST(HostRuntimeCooperative, GridBarrierOrdersEveryBlockAndDynamicSharedMemoryIsPerBlock) {
    for (uint32_t blocks : {1u, 7u, 32u}) {
        const uint32_t rounds = 4;
        std::vector<uint32_t> slots(rounds * blocks, 0), seen(blocks * 64, 0);
        uint32_t* s = slots.data();
        uint32_t* o = seen.data();
        LaunchResult r = runKernel("kvnProbeCooperativeKernel",
                                   {.grid_x = blocks, .cooperative = true, .dynamic_shared_bytes = 64 * 4}, s, rounds, o);
        ASSERT_TRUE(r.ok()) << r.fault;
        for (uint32_t b = 0; b < blocks; ++b) {
            uint32_t sum = 0;
            for (uint32_t round = 0; round < rounds; ++round) sum += (b + 1) % blocks * 1000 + round;
            for (uint32_t t = 0; t < 64; ++t) {
                ASSERT_EQ(seen[b * 64 + t], sum + 63 - t) << blocks << " blocks, block " << b << " thread " << t;
            }
        }
    }
    uint32_t* p = nullptr;
    EXPECT_NE(runKernel("kvnProbeCooperativeKernel",
                        {.grid_x = kvn::host::kMaxCooperativeBlocks + 1, .cooperative = true}, p, 1u, p)
                  .fault.find("at most"),
              std::string::npos);
}

TEST(HostRuntimeDeathTest, FiberStackOverflowHitsTheGuardPage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<uint32_t> out(32);
    uint32_t* p = out.data();
    EXPECT_DEATH((void)runKernel("kvnTestStackOverflowKernel", {}, p), "");
}

}  // namespace
