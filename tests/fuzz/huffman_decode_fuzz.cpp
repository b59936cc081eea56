// The Huffman table-build and decode kernels on the host runtime: streams
// from the fuzzer in the four lists the pipeline hands them, every table and
// decoded area compared with the reference decoder's, guards included.
#include <algorithm>

#include "tests/fuzz/fuzz_support.h"
#include "tests/kernels/decode/huffman_batch.h"

using namespace kvn;
using namespace kvn::fuzz;

namespace {

// Blocks past the descriptor count, as the pipeline's upper-bound grids have.
constexpr uint32_t kSurplusBlocks = 2;
constexpr size_t kMaxStreams = 12;

test::HuffOutputs runKernels(const test::HuffBatch& batch) {
    const uint32_t count = uint32_t(batch.descs.size());
    test::HuffOutputs out;
    out.luts.assign(batch.lutWords(), test::kGuardWord);
    for (auto& area : out.areas) area.assign(batch.areaBytes(), test::kGuardByte);
    const uint8_t* payload = batch.payload.data();
    const uint32_t* descs = reinterpret_cast<const uint32_t*>(batch.descs.data());
    const uint32_t* count_cell = &count;
    const uint32_t* lists = batch.list_counts.data();
    runKernel("kvnHuffBuildLutKernel", count + kSurplusBlocks, payload, descs, out.luts.data(), count_cell, 0u);
    runKernel("kvnHuffDecode4StreamKernel", count + kSurplusBlocks, payload, descs,
              static_cast<const uint32_t*>(out.luts.data()), count_cell, lists, out.areas[0].data(),
              out.areas[1].data(), out.areas[2].data(), 0u, 0u);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in({data, size});
    std::vector<HuffRecord> records;
    HuffRecord r;
    while (records.size() < kMaxStreams && readHuffRecord(in, &r)) records.push_back(r);
    if (records.empty()) return 0;
    std::stable_sort(records.begin(), records.end(), [](const HuffRecord& a, const HuffRecord& b) { return a.list < b.list; });
    test::HuffBatch batch;
    for (const HuffRecord& rec : records)
        batch.add(rec.list, rec.slot, std::vector<uint8_t>(rec.coded.begin(), rec.coded.end()), rec.count, rec.gap);
    check(runKernels(batch) == test::referenceOutputs(batch), "Huffman kernels differ from the reference decoder");
    return 0;
}
