// The decode kernels: which module each is built from, its bindings and
// push block, whether bring-up needs it, and the handle through which the
// pipelines launch it. Each library builds them its own way.
#pragma once

#include <cstdint>
#include <optional>

#include "pipeline/device/device_ops.h"

namespace kvn {

inline constexpr uint32_t kDecodeKernelCount = 22;

// One handle per decode kernel; empty until its pipeline is built.
struct DecodeKernelHandles {
    KernelHandle kernel_fn;
    KernelHandle kernel_raw_fn;
    KernelHandle kernel_raw_pipeline_fn;
    KernelHandle gather_off16_fn;
    KernelHandle scan_parse_fn;
    KernelHandle walk_frame_fn;
    KernelHandle walk_frame_table_fn;
    KernelHandle mega_walk_fn;
    KernelHandle mega_leap_fn;
    KernelHandle prefix_sum_chunks_fn;
    KernelHandle compact_all_descs_fn;
    KernelHandle merge_huff_descs_fn;
    KernelHandle merge_huff_descs_par_fn;
    KernelHandle huff_build_fn;
    KernelHandle huff_decode_fn;
    KernelHandle seg_hash_fn;
    KernelHandle chunk_combine_fn;
    KernelHandle sc_prefix_apply_fn;
    KernelHandle merkle_verdict_fn;
    KernelHandle wrt_decode_fused_fn;
    KernelHandle byte_plane_interleave_fn;
    KernelHandle content_hash_fn;
    // CUDA only (no Vulkan form, no row below): the pipelined raw kernel
    // under its name for chunks above 65536 bytes, the four-warp form of
    // kvnLzDecodeKernel, and the whole-input decode in one cooperative launch.
    KernelHandle kernel_raw_pipeline_big_fn;
    KernelHandle kernel_general_pipeline_fn;
    KernelHandle mega_decode_fn;
};

using DecodeKernelField = KernelHandle DecodeKernelHandles::*;

// One row per kernel index.
struct KernelSpec {
    DecodeKernelField handle;
    const char* handle_name;
    const char* module_name;  // the kernel entry name the module is embedded under
    uint32_t binding_count;   // storage buffers of set 0; may exceed what the module uses
    uint32_t push_bytes;
    bool subgroup_32;         // pipeline requires full 32-lane subgroups
    bool required;            // bring-up fails without it
};

// Kernel 14 (Huffman decode) is built only when kernel 13 (its tables) was.
inline constexpr uint32_t kHuffBuildKernel = 13;
inline constexpr uint32_t kHuffDecodeKernel = 14;

inline constexpr KernelSpec kKernelSpecs[kDecodeKernelCount] = {
    {&DecodeKernelHandles::kernel_fn, "kernel_fn", "kvnLzDecodeKernel", 7, 52, true, true},
    {&DecodeKernelHandles::kernel_raw_fn, "kernel_raw_fn", "kvnLzDecodeRawKernel", 5, 28, true, true},
    {&DecodeKernelHandles::kernel_raw_pipeline_fn, "kernel_raw_pipeline_fn", "kvnLzDecodeRawPipelinedKernel", 5, 28,
     true, false},
    {&DecodeKernelHandles::gather_off16_fn, "gather_off16_fn", "kvnGatherRawOff16Kernel", 4, 4, true, true},
    {&DecodeKernelHandles::scan_parse_fn, "scan_parse_fn", "kvnScanParseKernel", 11, 8, true, true},
    {&DecodeKernelHandles::walk_frame_fn, "walk_frame_fn", "kvnWalkFrameKernel", 10, 12, false, true},
    {&DecodeKernelHandles::walk_frame_table_fn, "walk_frame_table_fn", "kvnWalkFrameTableKernel", 10, 20, false,
     false},
    {&DecodeKernelHandles::mega_walk_fn, "mega_walk_fn", "kvnMegaWalkKernel", 10, 8, false, false},
    {&DecodeKernelHandles::mega_leap_fn, "mega_leap_fn", "kvnMegaLeapKernel", 11, 16, false, false},
    {&DecodeKernelHandles::prefix_sum_chunks_fn, "prefix_sum_chunks_fn", "kvnPrefixSumChunksKernel", 3, 8, false,
     true},
    {&DecodeKernelHandles::compact_all_descs_fn, "compact_all_descs_fn", "kvnCompactAllDescsKernel", 13, 0, false,
     false},
    {&DecodeKernelHandles::merge_huff_descs_fn, "merge_huff_descs_fn", "kvnMergeHuffDescsKernel", 10, 0, false, true},
    {&DecodeKernelHandles::merge_huff_descs_par_fn, "merge_huff_descs_par_fn", "kvnMergeHuffDescsParKernel", 10, 0,
     false, false},
    {&DecodeKernelHandles::huff_build_fn, "huff_build_fn", "kvnHuffBuildLutKernel", 4, 4, true, false},
    {&DecodeKernelHandles::huff_decode_fn, "huff_decode_fn", "kvnHuffDecode4StreamKernel", 5, 28, true, false},
    {&DecodeKernelHandles::seg_hash_fn, "seg_hash_fn", "kvnSegHashKernel", 2, 16, false, false},
    {&DecodeKernelHandles::chunk_combine_fn, "chunk_combine_fn", "kvnChunkCombineKernel", 2, 20, false, false},
    {&DecodeKernelHandles::sc_prefix_apply_fn, "sc_prefix_apply_fn", "kvnScPrefixApplyKernel", 2, 24, false, false},
    {&DecodeKernelHandles::merkle_verdict_fn, "merkle_verdict_fn", "kvnMerkleVerdictKernel", 2, 12, false, false},
    {&DecodeKernelHandles::wrt_decode_fused_fn, "wrt_decode_fused_fn", "kvnWrtDecodeFusedKernel", 8, 12, true,
     false},
    {&DecodeKernelHandles::byte_plane_interleave_fn, "byte_plane_interleave_fn", "kvnBytePlaneInterleaveKernel", 2,
     12, false, false},
    {&DecodeKernelHandles::content_hash_fn, "content_hash_fn", "kvnContentHashKernel", 1, 32, false, false},
};

// The lookup every decode step uses to learn whether a kernel is available:
// brings the device up if needed; empty when it failed or the kernel was not
// built. With KVN_FALLBACK_TRACE set a miss is traced.
std::optional<KernelHandle> getKernelHandle(DecodeKernelField kernel);

}  // namespace kvn
