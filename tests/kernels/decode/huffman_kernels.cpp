#include "huffman_kernels.h"

#include <gtest/gtest.h>

#include "tests/kernel_runtime/launch.h"

namespace kvn::test {
namespace {

// Blocks past the descriptor count, as the pipeline's upper-bound grids have.
constexpr uint32_t kSurplusBlocks = 3;

HuffOutputs guardFilled(const HuffBatch& batch) {
    HuffOutputs out;
    out.luts.assign(batch.lutWords(), kGuardWord);
    for (auto& area : out.areas) area.assign(batch.areaBytes(), kGuardByte);
    return out;
}

HuffOutputs runHost(const HuffBatch& batch, uint32_t first, uint32_t dst_base) {
    HuffOutputs out = guardFilled(batch);
    // The CUDA form: list counts in consecutive words.
    const uint32_t count = uint32_t(batch.descs.size());
    const std::vector<uint32_t> list_counts(batch.list_counts.begin(), batch.list_counts.end());
    const uint8_t* payload = batch.payload.data();
    const KvnHuffDecChunkDesc* descs = batch.descs.data();
    uint32_t* luts = out.luts.data();
    const uint32_t* count_cell = &count;
    const uint32_t* lists = list_counts.data();
    const uint32_t grid = count + kSurplusBlocks;
    host::LaunchResult r = host::runKernel("kvnHuffBuildLutKernel", {.grid_x = grid}, payload, descs, luts, count_cell, 0u);
    EXPECT_TRUE(r.ok()) << r.fault;
    uint8_t* literals = out.areas[0].data() + dst_base;
    uint8_t* tokens = out.areas[1].data() + dst_base;
    uint8_t* off16 = out.areas[2].data() + dst_base;
    r = host::runKernel("kvnHuffDecode4StreamKernel", {.grid_x = grid - first}, payload, descs,
                        static_cast<const uint32_t*>(luts), count_cell, lists, literals, tokens, off16, dst_base, first);
    EXPECT_TRUE(r.ok()) << r.fault;
    return out;
}

}  // namespace

std::vector<KernelBackend> kernelBackends() { return {KernelBackend::Host}; }

std::string backendName(KernelBackend backend) { return backend == KernelBackend::Host ? "Host" : "Lavapipe"; }

HuffOutputs runHuffman(KernelBackend backend, const HuffBatch& batch) {
    if (backend == KernelBackend::Host) return runHost(batch, 0, 0);
    ADD_FAILURE() << "no lavapipe rig yet";
    return {};
}

HuffOutputs runHuffmanWindow(const HuffBatch& batch, uint32_t first, uint32_t dst_base) {
    return runHost(batch, first, dst_base);
}

}  // namespace kvn::test
