// Runs the sort-parse pre-pass (key build, sort, discovery) and the parse on
// the kernel rig over sub-chunks cut from one input, with the arguments the
// body encoder gives them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/format/chunk_records.h"
#include "tests/kernels/rig/kernel_rig.h"

namespace kvn::test {

// Sub-chunks of the given lengths, back to back from the input's start;
// 3 x max(length, 116) bytes of LZ output each, the first one frame-first.
std::vector<CompressChunkDesc> sortParseDescs(std::span<const uint32_t> lengths);

struct SortRun {
    std::string fault;
    uint32_t input_buffer = 0, desc_buffer = 0, work_buffer = 0;
    std::vector<uint32_t> work;  // the workspace words after the pre-pass
};

// The three pre-pass kernels, one block per sub-chunk; the workspace starts
// dirty (every word 0xA5A5A5A5).
SortRun runSortPrepass(KernelRig& rig, std::span<const uint8_t> input, std::span<const CompressChunkDesc> descs,
                       uint32_t floor);

struct SortParseRun {
    std::string fault;
    std::vector<uint8_t> lz_output;
    std::vector<uint32_t> sizes;
};

// The pre-pass, then the parse (mode 2 of the LZ encode module).
SortParseRun runSortParse(KernelRig& rig, std::span<const uint8_t> input, std::span<const CompressChunkDesc> descs,
                          uint32_t floor);

}  // namespace kvn::test
