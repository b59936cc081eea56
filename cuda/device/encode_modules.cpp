// The encode kernels: loaded once per process after the decode bring-up,
// from the driver's second load with its own entry points. The outcome is
// kept for the process, success or failure.
#include <atomic>
#include <cstdio>
#include <string_view>

#include "core/platform/platform.h"
#include "cuda/device/cuda_context.h"
#include "cuda/device/init_report.h"
#include "pipeline/encode/encode_kernels.h"

namespace kvn {
namespace {

enum : uint8_t { kEncodeUntried = 0, kEncodeAvailable = 1, kEncodeUnavailable = 2 };

struct EncodeKernelName {
    KernelHandle EncodeKernelHandles::*handle;
    const char* name;
};

// The LZ-encode modules' kernels the bring-up needs, in resolution order.
// A kernel this build's PTX lacks stays empty: the levels that need it fail
// with KernelMissing when they reach the launch, and level 5 takes the chain
// parse without the sort-parse kernels.
constexpr EncodeKernelName kRequired[] = {
    {&EncodeKernelHandles::lz_greedy_fn, "kvnLzEncodeGreedyKernel"},
    {&EncodeKernelHandles::lz_greedy16_fn, "kvnLzEncodeGreedy16Kernel"},
    {&EncodeKernelHandles::lz_chain_fn, "kvnLzEncodeChainKernel"},
};
constexpr EncodeKernelName kOptionalLz[] = {
    {&EncodeKernelHandles::lz_sort_parse_fn, "kvnLzEncodeSortParseKernel"},
};
// The sort-parse pre-passes, a module of their own.
constexpr EncodeKernelName kSortPrepass[] = {
    {&EncodeKernelHandles::sort_build_keys_fn, "kvnLzSortBuildKeysKernel"},
    {&EncodeKernelHandles::sort_radix_fn, "kvnLzSortRadixKernel"},
    {&EncodeKernelHandles::sort_discover_fn, "kvnLzSortDiscoverKernel"},
};
constexpr EncodeKernelName kHuffman[] = {
    {&EncodeKernelHandles::huff_build_tables_fn, "kvnHuffBuildTablesKernel"},
    {&EncodeKernelHandles::huff_encode_fn, "kvnHuffEncode4StreamKernel"},
    {&EncodeKernelHandles::huff_scan_fn, "kvnHuffScanStreamsKernel"},
};
constexpr EncodeKernelName kAssembly[] = {
    {&EncodeKernelHandles::assemble_measure_fn, "kvnAssembleMeasureKernel"},
    {&EncodeKernelHandles::assemble_write_fn, "kvnAssembleWriteKernel"},
    {&EncodeKernelHandles::frame_assemble_fn, "kvnFrameAssembleKernel"},
};
constexpr EncodeKernelName kWrt[] = {
    {&EncodeKernelHandles::wrt_count_fn, "kvnWrtCountKernel"},     {&EncodeKernelHandles::wrt_compact_fn, "kvnWrtCompactKernel"},
    {&EncodeKernelHandles::wrt_assign_fn, "kvnWrtAssignKernel"},   {&EncodeKernelHandles::wrt_encode_fn, "kvnWrtEncodeKernel"},
    {&EncodeKernelHandles::wrt_gather_fn, "kvnWrtGatherKernel"},
};
constexpr EncodeKernelName kBytePlane[] = {
    {&EncodeKernelHandles::byte_plane_deinterleave_fn, "kvnBytePlaneDeinterleaveKernel"},
};
constexpr EncodeKernelName kMerkleRoot[] = {
    {&EncodeKernelHandles::merkle_root_write_fn, "kvnMerkleRootWriteKernel"},
};

// The embedded PTX modules of each encode group.
constexpr std::string_view kLzModules[] = {"lz_encode_kernel"};
constexpr std::string_view kSortModules[] = {"lz_sort_kernel"};
constexpr std::string_view kHuffmanModules[] = {"huffman_encode_kernel"};
constexpr std::string_view kAssemblyModules[] = {"assemble_kernel"};
constexpr std::string_view kWrtModules[] = {"wrt_encode_kernel"};
constexpr std::string_view kBytePlaneModules[] = {"byte_plane_kernel"};
constexpr std::string_view kMerkleRootModules[] = {"merkle_root_kernel"};

ExclusiveLock g_encode_lock;
std::atomic<uint8_t> g_encode_outcome{kEncodeUntried};
// The thread loading the modules, so that a call back into the load from the
// same thread (a driver calling its user) is refused instead of waiting on
// its own lock.
std::atomic<uintptr_t> g_encode_owner{0};
void* g_encode_driver = nullptr;
CudaEncodeFunctions g_encode_cu{};
EncodeKernelHandles g_encode_kernels{};

bool fail(const char* step, CuResult result) {
    reportEncodeInitFailure(step, result);
    return false;
}

void resolveAll(const ModuleGroup& group, std::span<const EncodeKernelName> kernels) {
    for (const EncodeKernelName& k : kernels)
        resolveKernel(group, g_encode_cu.cuModuleGetFunction, k.name, &(g_encode_kernels.*k.handle));
}

// An optional group: its failed load is announced and leaves its kernels
// empty; a group this build does not carry has nothing to announce.
void loadOptional(std::span<const std::string_view> modules, std::span<const EncodeKernelName> kernels,
                  const char* message) {
    ModuleGroup group{};
    const char* step = "";
    const CuResult result = loadModules(modules, g_encode_cu.cuModuleLoadData, nullptr, &group, &step);
    if (result != kCuSuccess) {
        if (message) std::fprintf(stderr, message, result);
        return;
    }
    resolveAll(group, kernels);
}

bool loadEncodeModules() {
    if (!init()) return fail("decode driver init (see its own [gpu-init] print)", 0);
    g_encode_driver = openLibrary(kCudaDriverLibrary);
    if (!g_encode_driver) return fail("loadCuda (nvcuda.dll / libcuda.so.1)", 0);
    bindCudaEncodeFunctions(g_encode_driver, &g_encode_cu);
    if (!g_encode_cu.cuModuleLoadData) return fail("cuModuleLoadData resolve", 0);
    ModuleGroup lz{};
    const char* step = "cuModuleLoadData(encode lz_encode_kernel.ptx)";
    const CuResult loaded = loadModules(kLzModules, g_encode_cu.cuModuleLoadData, nullptr, &lz, &step);
    if (loaded != kCuSuccess || lz.count == 0) return fail(step, loaded);
    if (!g_encode_cu.cuModuleGetFunction) return fail("cuModuleGetFunction resolve", 0);
    for (const EncodeKernelName& k : kRequired) {
        const CuResult result = resolveKernel(lz, g_encode_cu.cuModuleGetFunction, k.name, &(g_encode_kernels.*k.handle));
        if (result != kCuSuccess) return fail(k.name, result);
    }
    resolveAll(lz, kOptionalLz);
    loadOptional(kSortModules, kSortPrepass, nullptr);
    loadOptional(kHuffmanModules, kHuffman,
                 "[gpu-init] cuModuleLoadData(encode huffman_kernel.ptx) failed: CUresult %d; L3+ encode falls back to "
                 "CPU Huffman (218 = INVALID_PTX, run the CLAUDE.md diagnosis ladder)\n");
    loadOptional(kAssemblyModules, kAssembly,
                 "[gpu-init] cuModuleLoadData(assemble_kernel.ptx) failed: CUresult %d; frame assembly unavailable - "
                 "every encode will fail (218 = INVALID_PTX, run the CLAUDE.md diagnosis ladder)\n");
    loadOptional(kWrtModules, kWrt,
                 "[gpu-init] cuModuleLoadData(encode wrt_kernel.ptx) failed: CUresult %d; --wrt encodes fall back to "
                 "the CPU transform (218 = INVALID_PTX, run the CLAUDE.md diagnosis ladder)\n");
    loadOptional(kBytePlaneModules, kBytePlane, nullptr);
    // Without it the root is appended on the host.
    loadOptional(kMerkleRootModules, kMerkleRoot, nullptr);
    return true;
}

}  // namespace

bool ensureEncodePipelines() {
    const uint8_t seen = g_encode_outcome.load(std::memory_order_acquire);
    if (seen != kEncodeUntried) return seen == kEncodeAvailable;
    if (g_encode_owner.load() == currentThreadTag()) {
        std::fprintf(stderr, "[gpu-init] BUG: re-entrant ensureEncodePipelines() on the same thread; reporting unavailable\n");
        return false;
    }
    LockGuard guard(g_encode_lock);
    const uint8_t outcome = g_encode_outcome.load(std::memory_order_acquire);
    if (outcome != kEncodeUntried) return outcome == kEncodeAvailable;
    g_encode_owner.store(currentThreadTag());
    const bool available = loadEncodeModules();
    g_encode_owner.store(0);
    if (available) {
        g_enc_mem_free = memFreeIfLoaded;
        g_enc_launch_kernel = launchKernelIfLoaded;
    }
    g_encode_outcome.store(available ? kEncodeAvailable : kEncodeUnavailable, std::memory_order_release);
    return available;
}

const EncodeKernelHandles& encodeKernels() { return g_encode_kernels; }

}  // namespace kvn
