#include "tests/kernel_runtime/block_runner.h"

#include <cstdio>
#include <cstdlib>

namespace kvn::host {

namespace detail {
constinit thread_local const ThreadCoordinates* current_thread = nullptr;
constinit thread_local void* dynamic_shared = nullptr;
}

// The runner of the OS thread's current block; kernel code reaches it through
// the free functions of device_side.h.
static thread_local BlockRunner* tl_runner = nullptr;

// Large local arrays in kernels need room; sanitizers need more. The guard
// page below each stack turns an overflow into a fault.
#if defined(__SANITIZE_ADDRESS__)
static constexpr size_t kFiberStackBytes = size_t{1} << 20;
#else
static constexpr size_t kFiberStackBytes = size_t{256} << 10;
#endif

// Fiber stacks outlive launches: mapping and guarding them costs two system
// calls each, more than running a small block.
static ExclusiveLock g_stack_pool_lock;
static std::vector<void*> g_stack_pool;

static void* acquireStack() {
    {
        LockGuard guard(g_stack_pool_lock);
        if (!g_stack_pool.empty()) {
            void* stack = g_stack_pool.back();
            g_stack_pool.pop_back();
            return stack;
        }
    }
    void* stack = allocGuardedStack(kFiberStackBytes);
    if (!stack) {
        std::fputs("kernel runtime: out of memory for fiber stacks\n", stderr);
        std::abort();
    }
    return stack;
}

static void releaseStacks(const std::vector<void*>& stacks) {
    LockGuard guard(g_stack_pool_lock);
    g_stack_pool.insert(g_stack_pool.end(), stacks.begin(), stacks.end());
}

static BlockRunner& runner() {
    if (!tl_runner) {
        std::fputs("kernel runtime: a device function was called outside a kernel launch\n", stderr);
        std::abort();
    }
    return *tl_runner;
}

void blockBarrier() { runner().barrier(); }
void gridBarrier() { runner().gridBarrier(); }
void spinPause() { runner().spinPause(); }
uint32_t warpCollective(WarpOp op, uint32_t value, uint32_t arg) { return runner().warpCollective(op, value, arg); }

// ---- grid barrier -----------------------------------------------------------

bool GridBarrier::arriveAndWait(const std::atomic<bool>& failed) {
    uint32_t generation;
    {
        LockGuard guard(lock_);
        generation = generation_.load();
        if (++arrived_ == live_blocks_) {
            arrived_ = 0;
            generation_.fetch_add(1);
            return true;
        }
    }
    while (generation_.load() == generation) {
        if (failed.load()) return false;
        yieldThread();
    }
    return true;
}

void GridBarrier::blockDone() {
    LockGuard guard(lock_);
    --live_blocks_;
    if (arrived_ > 0 && arrived_ == live_blocks_) {
        arrived_ = 0;
        generation_.fetch_add(1);
    }
}

// ---- launch state -------------------------------------------------------------

void LaunchState::reportFault(const std::string& message) {
    LockGuard guard(fault_lock_);
    if (fault_.empty()) fault_ = message;
    failed.store(true);
}

std::string LaunchState::fault() {
    LockGuard guard(fault_lock_);
    return fault_;
}

// ---- block runner -------------------------------------------------------------

// Shared memory is per OS thread, which runs one block at a time.
BlockRunner::BlockRunner(LaunchState& launch)
    : launch_(launch), dynamic_shared_((size_t{launch.dynamic_shared_bytes} + 7) / 8) {
    tl_runner = this;
    detail::dynamic_shared = dynamic_shared_.empty() ? nullptr : dynamic_shared_.data();
}

BlockRunner::~BlockRunner() {
    releaseStacks(stacks_);
    tl_runner = nullptr;
    detail::current_thread = nullptr;
    detail::dynamic_shared = nullptr;
}

std::string BlockRunner::blockName() const {
    const ThreadCoordinates& c = current_ ? current_->coords : plain_coords_;
    return "block (" + std::to_string(c.block_x) + ", " + std::to_string(c.block_y) + ")";
}

void BlockRunner::runBlock(uint32_t block_x, uint32_t block_y) {
    if (launch_.kernel->sync == SyncMode::None) {
        runPlain(block_x, block_y);
    } else {
        runFibers(block_x, block_y);
    }
    if (launch_.cooperative) launch_.grid_barrier.blockDone();
}

// Kernels without barriers or collectives: each thread runs to its end in turn.
void BlockRunner::runPlain(uint32_t block_x, uint32_t block_y) {
    const uint32_t count = launch_.block_x * launch_.block_y;
    current_ = nullptr;
    block_failed_ = false;
    plain_coords_ = {0, 0, 0, block_x, block_y, launch_.grid_x, launch_.grid_y};
    detail::current_thread = &plain_coords_;
    for (uint32_t i = 0; i < count && !block_failed_; ++i) {
        plain_coords_.index = i;
        plain_coords_.x = i % launch_.block_x;
        plain_coords_.y = i / launch_.block_x;
        launch_.kernel->entry(launch_.params);
    }
}

void BlockRunner::ensureStacks(uint32_t count) {
    while (stacks_.size() < count) stacks_.push_back(acquireStack());
}

void BlockRunner::runFibers(uint32_t block_x, uint32_t block_y) {
    const uint32_t count = launch_.block_x * launch_.block_y;
    ensureStacks(count);
    threads_.resize(count);
    warps_.assign((count + 31) / 32, Warp{});
    for (uint32_t w = 0; w < warps_.size(); ++w) {
        uint32_t lanes = count - w * 32 < 32 ? count - w * 32 : 32;
        warps_[w].lanes = lanes;
        warps_[w].live = lanes;
    }
    for (uint32_t i = 0; i < count; ++i) {
        Thread& t = threads_[i];
        t.coords = {i, i % launch_.block_x, i / launch_.block_x, block_x, block_y, launch_.grid_x, launch_.grid_y};
        t.state = State::Runnable;
        // Stack tops at one offset modulo the stack size would share cache
        // sets; shifting each by a different number of lines spreads them.
        const size_t color = (size_t{i} * 1088) % 65536;
        initFiber(t.fiber, scheduler_, stacks_[i], kFiberStackBytes - color, &BlockRunner::threadMain, this);
    }
    live_ = count;
    at_barrier_ = 0;
    at_grid_barrier_ = 0;
    block_failed_ = false;

    // Round-robin over the threads: each runs until it waits or ends.
    while (live_ > 0) {
        bool ran = false;
        spun_ = false;
        for (Thread& t : threads_) {
            if (t.state != State::Runnable) continue;
            current_ = &t;
            detail::current_thread = &t.coords;
            switchFiber(scheduler_, t.fiber);
            ran = true;
            if (block_failed_ || launch_.failed.load()) break;
        }
        if (block_failed_ || launch_.failed.load()) break;
        if (live_ > 0 && !ran) {
            uint32_t at_collective = live_ - at_barrier_ - at_grid_barrier_;
            fail(blockName() + " deadlocked: of " + std::to_string(live_) + " live threads, " +
                 std::to_string(at_barrier_) + " wait at a block barrier, " + std::to_string(at_grid_barrier_) +
                 " at a grid barrier and " + std::to_string(at_collective) + " at warp collectives");
            break;
        }
        if (spun_) yieldThread();
    }
    current_ = nullptr;
    detail::current_thread = nullptr;
}

void BlockRunner::threadMain(void* self) {
    auto* r = static_cast<BlockRunner*>(self);
    r->launch_.kernel->entry(r->launch_.params);
    r->exitThread();
}

void BlockRunner::suspend() { switchFiber(current_->fiber, scheduler_); }

// Ends the current fiber thread; a barrier or collective waiting only for it
// completes now.
void BlockRunner::exitThread() {
    Thread& t = *current_;
    t.state = State::Done;
    --live_;
    Warp& warp = warps_[t.coords.index / 32];
    --warp.live;
    if (at_barrier_ > 0 && at_barrier_ == live_) release(State::AtBarrier);
    if (at_grid_barrier_ > 0 && at_grid_barrier_ == live_) {
        if (launch_.grid_barrier.arriveAndWait(launch_.failed)) release(State::AtGridBarrier);
    }
    if (warp.arrived > 0 && warp.arrived == warp.live) completeCollective(warp, t.coords.index / 32 * 32);
    exitFiber(t.fiber, scheduler_);
}

void BlockRunner::release(State waiting) {
    for (Thread& t : threads_) {
        if (t.state == waiting) t.state = State::Runnable;
    }
    if (waiting == State::AtBarrier) at_barrier_ = 0;
    if (waiting == State::AtGridBarrier) at_grid_barrier_ = 0;
}

void BlockRunner::fail(const std::string& message) {
    launch_.reportFault(launch_.kernel->name + std::string(": ") + message);
    block_failed_ = true;
}

void BlockRunner::barrier() {
    if (!current_) {
        fail(blockName() + " called a block barrier, but the kernel is declared without synchronisation");
        return;
    }
    current_->state = State::AtBarrier;
    if (++at_barrier_ == live_) {
        release(State::AtBarrier);
        return;
    }
    suspend();
}

void BlockRunner::gridBarrier() {
    if (!launch_.cooperative || !current_) {
        fail(blockName() + " called a grid barrier outside a cooperative launch of a grid-synchronised kernel");
        return;
    }
    current_->state = State::AtGridBarrier;
    if (++at_grid_barrier_ == live_) {
        if (!launch_.grid_barrier.arriveAndWait(launch_.failed)) {
            block_failed_ = true;
            suspend();
        }
        release(State::AtGridBarrier);
        return;
    }
    suspend();
}

void BlockRunner::spinPause() {
    if (!current_) {
        yieldThread();
        return;
    }
    spun_ = true;
    suspend();
}

uint32_t BlockRunner::warpCollective(WarpOp op, uint32_t value, uint32_t arg) {
    if (!current_) {
        fail(blockName() + " called a warp collective, but the kernel is declared without synchronisation");
        return 0;
    }
    Thread& t = *current_;
    const uint32_t w = t.coords.index / 32;
    Warp& warp = warps_[w];
    if (warp.arrived == 0) {
        warp.op = op;
    } else if (warp.op != op) {
        fail(blockName() + " warp " + std::to_string(w) + ": lanes called different warp collectives at once");
        suspend();
    }
    t.op = op;
    t.value = value;
    t.arg = arg;
    t.state = State::AtCollective;
    if (++warp.arrived == warp.live) {
        completeCollective(warp, w * 32);
        if (block_failed_) suspend();
    } else {
        suspend();
    }
    return t.result;
}

// Computes the collective for every lane once the last live lane has arrived.
void BlockRunner::completeCollective(Warp& warp, uint32_t first) {
    warp.arrived = 0;
    if (warp.live < warp.lanes) {
        fail(blockName() + " warp " + std::to_string(first / 32) + ": a warp collective was reached by " +
             std::to_string(warp.live) + " of " + std::to_string(warp.lanes) +
             " lanes; the others had returned (collectives must be reached by every lane)");
        return;
    }
    Thread* lanes = &threads_[first];
    uint32_t ballot = 0, sum = 0, low = 0xFFFFFFFFu, high = 0;
    for (uint32_t l = 0; l < warp.lanes; ++l) {
        uint32_t v = lanes[l].value;
        ballot |= (v != 0 ? 1u : 0u) << l;
        sum += v;
        low = v < low ? v : low;
        high = v > high ? v : high;
    }
    uint32_t prefix = 0;
    for (uint32_t l = 0; l < warp.lanes; ++l) {
        Thread& t = lanes[l];
        switch (warp.op) {
            case WarpOp::Shuffle: {
                uint32_t src = t.arg & 31u;
                t.result = src < warp.lanes ? lanes[src].value : 0u;
                break;
            }
            case WarpOp::Ballot: t.result = ballot; break;
            case WarpOp::ReduceAdd: t.result = sum; break;
            case WarpOp::ReduceMin: t.result = low; break;
            case WarpOp::ReduceMax: t.result = high; break;
            case WarpOp::InclusiveAdd:
                prefix += t.value;
                t.result = prefix;
                break;
            case WarpOp::MatchAny:
                t.result = 0;
                for (uint32_t j = 0; j < warp.lanes; ++j) t.result |= (lanes[j].value == t.value ? 1u : 0u) << j;
                break;
        }
        t.state = State::Runnable;
    }
}

}  // namespace kvn::host
