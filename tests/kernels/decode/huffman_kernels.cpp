#include "huffman_kernels.h"

#include <gtest/gtest.h>

namespace kvn::test {
namespace {

// Blocks past the descriptor count, as the pipeline's upper-bound grids have.
constexpr uint32_t kSurplusBlocks = 3;

// The list counts as each form reads them: consecutive words for the CUDA
// form (and the host build), a 256-byte cell per count on Vulkan.
std::vector<uint32_t> listCounts(KernelBackend backend, const HuffBatch& batch) {
    if (backend == KernelBackend::Host) return {batch.list_counts.begin(), batch.list_counts.end()};
    std::vector<uint32_t> cells(KVN_DESC_COUNTER_BYTES / 4, 0);
    for (uint32_t list = 0; list < 4; ++list) cells[list * KVN_DESC_COUNTER_CELL_BYTES / 4] = batch.list_counts[list];
    return cells;
}

HuffOutputs run(KernelBackend backend, const HuffBatch& batch, uint32_t first, uint32_t dst_base) {
    KernelRig rig(backend);
    const uint32_t count = uint32_t(batch.descs.size());
    const uint32_t payload = rig.bufferOf(batch.payload);
    const uint32_t descs = rig.bufferOf(batch.descs);
    const uint32_t luts = rig.bufferOf(std::vector<uint32_t>(batch.lutWords(), kGuardWord));
    const uint32_t count_cell = rig.bufferOf(std::vector<uint32_t>{count});
    const uint32_t lists = rig.bufferOf(listCounts(backend, batch));
    uint32_t areas[kHuffAreas];
    for (uint32_t& area : areas) area = rig.buffer(batch.areaBytes(), kGuardByte);

    const RigGrid grid{count + kSurplusBlocks - first};
    std::string fault;
    if (backend == KernelBackend::Host) {
        fault = rig.launch("kvnHuffBuildLutKernel", {count + kSurplusBlocks},
                           {rigBuffer(payload), rigBuffer(descs), rigBuffer(luts), rigBuffer(count_cell), rigU32(0)});
        EXPECT_EQ(fault, "");
        fault = rig.launch("kvnHuffDecode4StreamKernel", grid,
                           {rigBuffer(payload), rigBuffer(descs), rigBuffer(luts), rigBuffer(count_cell),
                            rigBuffer(lists), rigAddress(areas[0], dst_base), rigAddress(areas[1], dst_base),
                            rigAddress(areas[2], dst_base), rigU32(dst_base), rigU32(first)});
    } else {
        EXPECT_EQ(first, 0u) << "the Vulkan forms have no window";
        fault = rig.launch("kvnHuffBuildLutKernel", grid,
                           {rigBuffer(payload), rigBuffer(descs), rigBuffer(luts), rigBuffer(count_cell), rigU32(0)});
        EXPECT_EQ(fault, "");
        fault = rig.launch("kvnHuffDecode4StreamKernel", grid,
                           {rigBuffer(payload), rigBuffer(descs), rigBuffer(luts), rigBuffer(count_cell),
                            rigBuffer(lists), rigAddress(areas[0]), rigAddress(areas[1]), rigAddress(areas[2]),
                            rigU32(0)});
    }
    EXPECT_EQ(fault, "");

    HuffOutputs out;
    out.luts = rig.readAs<uint32_t>(luts);
    for (uint32_t a = 0; a < kHuffAreas; ++a) out.areas[a] = rig.read(areas[a]);
    return out;
}

}  // namespace

std::vector<KernelBackend> kernelBackends() { return {KernelBackend::Host, KernelBackend::Lavapipe}; }

HuffOutputs runHuffman(KernelBackend backend, const HuffBatch& batch) { return run(backend, batch, 0, 0); }

HuffOutputs runHuffmanWindow(const HuffBatch& batch, uint32_t first, uint32_t dst_base) {
    return run(KernelBackend::Host, batch, first, dst_base);
}

}  // namespace kvn::test
