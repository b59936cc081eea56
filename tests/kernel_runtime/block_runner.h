// Runs the blocks of one launch on the calling OS thread, one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "core/platform/platform.h"
#include "tests/kernel_runtime/device_side.h"
#include "tests/kernel_runtime/fiber.h"

namespace kvn::host {

// Grid-wide barrier of a cooperative launch. Blocks that have finished no
// longer count, as finished threads do not at a block barrier.
class GridBarrier {
public:
    void start(uint32_t blocks) { live_blocks_ = blocks; }
    // Returns false when the launch failed while waiting.
    bool arriveAndWait(const std::atomic<bool>& failed);
    void blockDone();

private:
    ExclusiveLock lock_;
    uint32_t live_blocks_ = 0;
    uint32_t arrived_ = 0;
    std::atomic<uint32_t> generation_{0};
};

// What the OS threads of one launch share.
struct LaunchState {
    const HostKernel* kernel = nullptr;
    void* const* params = nullptr;
    uint32_t grid_x = 1, grid_y = 1;
    uint32_t block_x = 1, block_y = 1;
    bool cooperative = false;
    uint32_t dynamic_shared_bytes = 0;
    std::atomic<uint32_t> next_block{0};
    std::atomic<bool> failed{false};
    GridBarrier grid_barrier;

    void reportFault(const std::string& message);
    std::string fault();

private:
    ExclusiveLock fault_lock_;
    std::string fault_;
};

class BlockRunner {
public:
    explicit BlockRunner(LaunchState& launch);
    ~BlockRunner();
    BlockRunner(const BlockRunner&) = delete;
    BlockRunner& operator=(const BlockRunner&) = delete;

    void runBlock(uint32_t block_x, uint32_t block_y);

    // Called from kernel threads through device_side.h.
    void barrier();
    void gridBarrier();
    void spinPause();
    uint32_t warpCollective(WarpOp op, uint32_t value, uint32_t arg);

private:
    enum class State : uint8_t { Runnable, AtBarrier, AtGridBarrier, AtCollective, Done };

    struct Thread {
        ThreadCoordinates coords{};
        FiberContext fiber;
        State state = State::Runnable;
        WarpOp op = WarpOp::Shuffle;
        uint32_t value = 0, arg = 0, result = 0;
    };

    struct Warp {
        uint32_t lanes = 0;  // threads of the block in this warp
        uint32_t live = 0;
        uint32_t arrived = 0;
        WarpOp op = WarpOp::Shuffle;
    };

    static void threadMain(void* self);
    void runPlain(uint32_t block_x, uint32_t block_y);
    void runFibers(uint32_t block_x, uint32_t block_y);
    void ensureStacks(uint32_t count);
    void suspend();
    void release(State waiting);
    void completeCollective(Warp& warp, uint32_t first);
    void fail(const std::string& message);
    [[noreturn]] void exitThread();
    std::string blockName() const;

    LaunchState& launch_;
    std::vector<Thread> threads_;
    std::vector<Warp> warps_;
    std::vector<void*> stacks_;
    std::vector<uint64_t> dynamic_shared_;  // 8-byte aligned
    FiberContext scheduler_;
    Thread* current_ = nullptr;
    ThreadCoordinates plain_coords_{};
    uint32_t live_ = 0;
    uint32_t at_barrier_ = 0;
    uint32_t at_grid_barrier_ = 0;
    bool block_failed_ = false;
    bool spun_ = false;
};

}  // namespace kvn::host
