// The encode kernels: which module each is built from, its bindings and
// push block, the group a failed build takes with it, and the handle through
// which the pipelines launch it. Each library builds them its own way, once
// per process on demand (on handle creation and before encode work).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/encode/level_table.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

struct EncodeKernelHandles {
    KernelHandle lz_greedy_fn;
    KernelHandle lz_greedy16_fn;
    KernelHandle lz_chain_fn;
    KernelHandle lz_sort_parse_fn;
    KernelHandle sort_build_keys_fn;
    KernelHandle sort_radix_fn;
    KernelHandle sort_discover_fn;
    KernelHandle huff_build_tables_fn;
    KernelHandle huff_encode_fn;
    KernelHandle huff_scan_fn;
    KernelHandle assemble_measure_fn;
    KernelHandle assemble_write_fn;
    KernelHandle frame_assemble_fn;
    KernelHandle wrt_count_fn;
    KernelHandle wrt_compact_fn;
    KernelHandle wrt_assign_fn;
    KernelHandle wrt_encode_fn;
    KernelHandle wrt_gather_fn;
    KernelHandle byte_plane_deinterleave_fn;
    // Only where merkleRootWrittenOnDevice() (backend_hooks.h): no row below.
    KernelHandle merkle_root_write_fn;
};

// Which kernels a failure takes with it: a required kernel fails the whole
// build (retried by the next call); a group's head failing skips the group.
enum class EncodeGroup : uint8_t { Required, HuffmanHead, Huffman, AssemblyHead, Assembly, WrtHead, Wrt, Alone };

struct EncodeKernelSpec {
    KernelHandle EncodeKernelHandles::*handle;
    const char* kernel_name;
    const char* module_name;  // the embedded module; the four LZ-encode kernels share one
    uint32_t binding_count;
    uint32_t push_bytes;
    bool specialized;          // takes constants 0 (LZ mode) and 1 (16-bit hash entries)
    uint32_t lz_mode;          // 0 greedy, 1 chain, 2 sort-parse
    uint32_t hash16;
    EncodeGroup group;
};

inline constexpr size_t kEncodeKernelCount = 19;
inline constexpr const char* kLzEncodeModule = "kvnLzEncodeGreedyKernel";

// In build order. The three sort kernels serve only level 5's sort-parse
// road, which checks for them itself; a device without them still encodes
// every other level.
// The LZ rows' parse modes, as the level table names them.
inline constexpr uint32_t kGreedyMode = static_cast<uint32_t>(ParseMode::Greedy);
inline constexpr uint32_t kChainMode = static_cast<uint32_t>(ParseMode::Chain);
inline constexpr uint32_t kSortParseMode = static_cast<uint32_t>(ParseMode::SortParse);

inline constexpr EncodeKernelSpec kEncodeKernelSpecs[kEncodeKernelCount] = {
    {&EncodeKernelHandles::lz_greedy_fn, "kvnLzEncodeGreedyKernel", kLzEncodeModule, 5, 72, true, kGreedyMode, 0, EncodeGroup::Required},
    {&EncodeKernelHandles::lz_greedy16_fn, "kvnLzEncodeGreedy16Kernel", kLzEncodeModule, 5, 72, true, kGreedyMode, 1, EncodeGroup::Required},
    {&EncodeKernelHandles::lz_chain_fn, "kvnLzEncodeChainKernel", kLzEncodeModule, 5, 72, true, kChainMode, 0, EncodeGroup::Required},
    {&EncodeKernelHandles::lz_sort_parse_fn, "kvnLzEncodeSortParseKernel", kLzEncodeModule, 5, 72, true, kSortParseMode, 0, EncodeGroup::Required},
    {&EncodeKernelHandles::sort_build_keys_fn, "kvnLzSortBuildKeysKernel", "kvnLzSortBuildKeysKernel", 2, 24, false, 0, 0, EncodeGroup::Alone},
    {&EncodeKernelHandles::sort_radix_fn, "kvnLzSortRadixKernel", "kvnLzSortRadixKernel", 2, 24, false, 0, 0, EncodeGroup::Alone},
    {&EncodeKernelHandles::sort_discover_fn, "kvnLzSortDiscoverKernel", "kvnLzSortDiscoverKernel", 2, 24, false, 0, 0, EncodeGroup::Alone},
    {&EncodeKernelHandles::huff_build_tables_fn, "kvnHuffBuildTablesKernel", "kvnHuffBuildTablesKernel", 4, 8, false, 0, 0, EncodeGroup::HuffmanHead},
    {&EncodeKernelHandles::huff_encode_fn, "kvnHuffEncode4StreamKernel", "kvnHuffEncode4StreamKernel", 7, 12, false, 0, 0, EncodeGroup::Huffman},
    {&EncodeKernelHandles::huff_scan_fn, "kvnHuffScanStreamsKernel", "kvnHuffScanStreamsKernel", 4, 4, false, 0, 0, EncodeGroup::Huffman},
    {&EncodeKernelHandles::assemble_measure_fn, "kvnAssembleMeasureKernel", "kvnAssembleMeasureKernel", 7, 4, false, 0, 0, EncodeGroup::AssemblyHead},
    {&EncodeKernelHandles::assemble_write_fn, "kvnAssembleWriteKernel", "kvnAssembleWriteKernel", 6, 4, false, 0, 0, EncodeGroup::Assembly},
    {&EncodeKernelHandles::frame_assemble_fn, "kvnFrameAssembleKernel", "kvnFrameAssembleKernel", 7, 32, false, 0, 0, EncodeGroup::Assembly},
    {&EncodeKernelHandles::wrt_count_fn, "kvnWrtCountKernel", "kvnWrtCountKernel", 6, 8, false, 0, 0, EncodeGroup::WrtHead},
    {&EncodeKernelHandles::wrt_compact_fn, "kvnWrtCompactKernel", "kvnWrtCompactKernel", 8, 8, false, 0, 0, EncodeGroup::Wrt},
    {&EncodeKernelHandles::wrt_assign_fn, "kvnWrtAssignKernel", "kvnWrtAssignKernel", 7, 8, false, 0, 0, EncodeGroup::Wrt},
    {&EncodeKernelHandles::wrt_encode_fn, "kvnWrtEncodeKernel", "kvnWrtEncodeKernel", 9, 16, false, 0, 0, EncodeGroup::Wrt},
    {&EncodeKernelHandles::wrt_gather_fn, "kvnWrtGatherKernel", "kvnWrtGatherKernel", 5, 4, false, 0, 0, EncodeGroup::Wrt},
    {&EncodeKernelHandles::byte_plane_deinterleave_fn, "kvnBytePlaneDeinterleaveKernel", "kvnBytePlaneDeinterleaveKernel", 2, 12, false, 0, 0, EncodeGroup::Alone},
};

// Brings the device up if needed and builds the encode pipelines once; true
// when the required ones exist. A failed call is retried by the next one,
// which builds only what is still missing.
bool ensureEncodePipelines();

// The handles; a kernel whose build failed (or was skipped) stays empty.
const EncodeKernelHandles& encodeKernels();

// The pipeline of one encode kernel once the pipelines are built; nothing
// when the build failed or skipped it, which KVN_FALLBACK_TRACE reports.
using EncodeKernelField = KernelHandle EncodeKernelHandles::*;
std::optional<KernelHandle> getEncodePipeline(EncodeKernelField kernel);

// What the per-frame encoder calls instead of reading the table:
// BackendNotAvailable when the entry is empty.
using LaunchKernelFn = decltype(GpuOpsTable::launchKernel);
using MemFreeFn = decltype(GpuOpsTable::memFree);
Error launchKernelIfLoaded(KernelHandle kernel, uint32_t grid_x, uint32_t grid_y, uint32_t grid_z, uint32_t block_x,
                             uint32_t block_y, uint32_t block_z, uint32_t shared_bytes, StreamHandle stream,
                             void** params, void** extra, const uint64_t* binding_offsets);
Error memFreeIfLoaded(DeviceBufferHandle buffer);
// Set by ensureEncodePipelines; null before.
extern LaunchKernelFn g_enc_launch_kernel;
extern MemFreeFn g_enc_mem_free;

}  // namespace kvn
