#include "tests/kernel_runtime/launch.h"

#include <memory>
#include <vector>

#include "tests/kernel_runtime/block_runner.h"

namespace kvn::host {

// Kernels run on the workers' own stacks when they need no fibers.
static constexpr size_t kWorkerStackBytes = kStack16MiB;

struct Worker {
    LaunchState* launch = nullptr;
    uint32_t fixed_block = 0;  // cooperative launches: the worker's one block
    Thread thread;
};

static void workerMain(void* arg) {
    Worker& worker = *static_cast<Worker*>(arg);
    LaunchState& launch = *worker.launch;
    BlockRunner runner(launch);
    if (launch.cooperative) {
        runner.runBlock(worker.fixed_block % launch.grid_x, worker.fixed_block / launch.grid_x);
        return;
    }
    const uint32_t blocks = launch.grid_x * launch.grid_y;
    while (!launch.failed.load()) {
        uint32_t b = launch.next_block.fetch_add(1);
        if (b >= blocks) break;
        runner.runBlock(b % launch.grid_x, b / launch.grid_x);
    }
}

std::string checkArguments(const HostKernel& kernel, const uint32_t* sizes, uint32_t count) {
    const uint32_t expected = paramCount(kernel);
    if (count != expected) {
        return std::string(kernel.name) + ": " + std::to_string(count) + " arguments given, " +
               std::to_string(expected) + " parameters declared";
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t want = kernel.params[i] == ParamKind::Scalar ? 4u : 8u;
        if (sizes[i] != want) {
            return std::string(kernel.name) + ": argument " + std::to_string(i) + " has " + std::to_string(sizes[i]) +
                   " bytes, its parameter " + std::to_string(want);
        }
    }
    return {};
}

LaunchResult launchKernel(const HostKernel& kernel, const LaunchShape& shape, void* const* params) {
    const std::string name = kernel.name;
    const uint32_t block_x = shape.block_x ? shape.block_x : kernel.block_x;
    const uint32_t block_y = shape.block_y ? shape.block_y : kernel.block_y;
    if (block_x != kernel.block_x || block_y != kernel.block_y) {
        return {name + ": launched with blocks of " + std::to_string(block_x) + " x " + std::to_string(block_y) +
                ", built for " + std::to_string(kernel.block_x) + " x " + std::to_string(kernel.block_y)};
    }
    if (kernel.sync == SyncMode::Grid && !shape.cooperative) {
        return {name + ": a kernel with grid barriers needs a cooperative launch"};
    }
    const uint64_t blocks = uint64_t{shape.grid_x} * shape.grid_y;
    if (blocks == 0) return {};
    if (blocks > 0xFFFFFFFFu) return {name + ": grid too large"};
    if (shape.cooperative && blocks > kMaxCooperativeBlocks) {
        return {name + ": a cooperative launch takes at most " + std::to_string(kMaxCooperativeBlocks) + " blocks"};
    }

    LaunchState launch;
    launch.kernel = &kernel;
    launch.params = params;
    launch.grid_x = shape.grid_x;
    launch.grid_y = shape.grid_y;
    launch.block_x = block_x;
    launch.block_y = block_y;
    launch.cooperative = shape.cooperative;
    launch.dynamic_shared_bytes = shape.dynamic_shared_bytes;
    launch.grid_barrier.start(uint32_t(blocks));

    uint32_t count = uint32_t(blocks);
    if (!shape.cooperative) {
        uint32_t wanted = shape.workers ? shape.workers : processorCount();
        count = wanted < count ? wanted : count;
    }
    std::vector<std::unique_ptr<Worker>> workers;
    for (uint32_t i = 0; i < count; ++i) {
        auto worker = std::make_unique<Worker>();
        worker->launch = &launch;
        worker->fixed_block = i;
        if (startThread(&worker->thread, &workerMain, worker.get(), kWorkerStackBytes) != Error::None) {
            launch.reportFault(name + ": could not start a runtime thread");
            break;
        }
        workers.push_back(std::move(worker));
    }
    for (auto& worker : workers) joinThread(&worker->thread);
    return {launch.fault()};
}

}  // namespace kvn::host
