// Launching a kernel's host build on the test kernel runtime: the grid runs
// on a few OS threads, one block per OS thread at a time, each block's threads
// as fibers that switch at barriers and warp collectives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tests/kernel_runtime/host_kernel.h"

namespace kvn::host {

struct LaunchShape {
    uint32_t grid_x = 1;
    uint32_t grid_y = 1;
    // 0 takes the kernel's own block size; any other value must equal it.
    uint32_t block_x = 0;
    uint32_t block_y = 0;
    // Runs every block at once (one OS thread each) so that they can meet at
    // grid barriers, as a cooperative CUDA launch does.
    bool cooperative = false;
    // OS threads for a normal launch; 0: one per processor.
    uint32_t workers = 0;
    // Bytes behind each block's KVN_DYNAMIC_SHARED arrays (CUDA-only kernels).
    uint32_t dynamic_shared_bytes = 0;
};

// Blocks a cooperative launch may have (each gets an OS thread).
inline constexpr uint32_t kMaxCooperativeBlocks = 256;

struct LaunchResult {
    // Empty when the grid ran to its end. Otherwise the first fault seen: a
    // deadlock, a collective not reached by the whole warp, a barrier in a
    // kernel declared without synchronisation, a bad launch.
    std::string fault;
    bool ok() const { return fault.empty(); }
};

// params[i] points at parameter i's value, as with cuLaunchKernel: buffers
// and addresses are 8-byte pointers, scalars 4-byte values.
LaunchResult launchKernel(const HostKernel& kernel, const LaunchShape& shape, void* const* params);

// The fault for an argument list whose count or sizes do not match the
// kernel's parameters; empty when they match.
std::string checkArguments(const HostKernel& kernel, const uint32_t* sizes, uint32_t count);

// Runs the named kernel with typed arguments: pointers for buffers and
// addresses, 32-bit values for scalars.
template <class... Args>
LaunchResult runKernel(std::string_view name, const LaunchShape& shape, const Args&... args) {
    const HostKernel* kernel = findKernel(name);
    if (!kernel) return {"no host build of a kernel named " + std::string(name)};
    const uint32_t sizes[] = {uint32_t(sizeof(Args))..., 0};
    if (std::string fault = checkArguments(*kernel, sizes, sizeof...(Args)); !fault.empty()) return {fault};
    void* const params[] = {const_cast<void*>(static_cast<const void*>(&args))..., nullptr};
    return launchKernel(*kernel, shape, params);
}

}  // namespace kvn::host
