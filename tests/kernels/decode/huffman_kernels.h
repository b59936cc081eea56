// Runs the Huffman table-build and decode kernels over a batch on one backend,
// from guard-filled tables and scratch areas, as the decode pipeline launches
// them: one block per descriptor of an upper-bound grid.
#pragma once

#include <vector>

#include "huffman_batch.h"
#include "kernels/rig/kernel_rig.h"

namespace kvn::test {

std::vector<KernelBackend> kernelBackends();

HuffOutputs runHuffman(KernelBackend backend, const HuffBatch& batch);

// The CUDA form's window (host runtime only): the decode kernel from
// descriptor `first`, with the areas starting at destination offset `dst_base`.
HuffOutputs runHuffmanWindow(const HuffBatch& batch, uint32_t first, uint32_t dst_base);

}  // namespace kvn::test
