#include "sort_rig.h"

#include <algorithm>

#include "kernels/lz_sort_layout.h"

namespace kvn::test {

std::vector<CompressChunkDesc> sortParseDescs(std::span<const uint32_t> lengths) {
    std::vector<CompressChunkDesc> descs;
    uint32_t src = 0, out = 0;
    for (uint32_t len : lengths) {
        const uint32_t stride = 3 * std::max(len, 116u);
        descs.push_back({src, len, out, stride, descs.empty() ? 1u : 0u});
        src += len;
        out += stride;
    }
    return descs;
}

SortRun runSortPrepass(KernelRig& rig, std::span<const uint8_t> input, std::span<const CompressChunkDesc> descs,
                       uint32_t floor) {
    SortRun r;
    std::vector<uint8_t> padded(input.begin(), input.end());
    padded.resize(input.size() + 8);
    r.input_buffer = rig.buffer(padded);
    r.desc_buffer = rig.bufferOf(std::vector<CompressChunkDesc>(descs.begin(), descs.end()));
    const uint32_t count = uint32_t(descs.size());
    r.work_buffer = rig.buffer(size_t(count) * KVN_SORT_REGION_WORDS * 4, 0xA5);
    for (const char* kernel : {"kvnLzSortBuildKeysKernel", "kvnLzSortRadixKernel", "kvnLzSortDiscoverKernel"}) {
        r.fault = rig.launch(kernel, {count},
                             {rigBuffer(r.input_buffer), rigBuffer(r.desc_buffer), rigU32(count), rigU32(floor),
                              rigAddress(r.work_buffer), rigAddress(r.input_buffer)});
        if (!r.fault.empty()) {
            r.fault = std::string(kernel) + ": " + r.fault;
            return r;
        }
    }
    r.work = rig.readAs<uint32_t>(r.work_buffer);
    return r;
}

SortParseRun runSortParse(KernelRig& rig, std::span<const uint8_t> input, std::span<const CompressChunkDesc> descs,
                          uint32_t floor) {
    SortParseRun r;
    SortRun pre = runSortPrepass(rig, input, descs, floor);
    r.fault = pre.fault;
    if (!r.fault.empty()) return r;
    const uint32_t count = uint32_t(descs.size());
    size_t out_bytes = 0;
    for (const CompressChunkDesc& d : descs) out_bytes = std::max<size_t>(out_bytes, d.out_off + d.out_stride);
    const uint32_t lz = rig.buffer(out_bytes, 0xCC);
    const uint32_t sizes = rig.buffer(size_t(count) * 4);
    const uint32_t dict = rig.buffer(16);
    r.fault = rig.launch("kvnLzEncodeSortParseKernel", {count},
                         {rigBuffer(pre.input_buffer), rigBuffer(lz), rigBuffer(pre.desc_buffer), rigBuffer(sizes),
                          rigU32(count), rigU32(17), rigU32(2), rigU32(1), rigAddress(pre.work_buffer),
                          rigAddress(dict), rigAddress(dict), rigU32(0), rigU32(0), rigU32(1), rigU32(0),
                          rigAddress(pre.input_buffer), rigU32(0), rigU32(floor)});
    r.lz_output = rig.read(lz);
    r.sizes = rig.readAs<uint32_t>(sizes);
    return r;
}

}  // namespace kvn::test
