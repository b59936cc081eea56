#include "lz_runs.h"

#include <cstring>

#include "kernels/format_constants.h"

namespace kvn::dectest {
namespace {

template <class T>
std::vector<uint8_t> bytesOf(const std::vector<T>& v) {
    std::vector<uint8_t> out(v.size() * sizeof(T));
    if (!v.empty()) std::memcpy(out.data(), v.data(), out.size());
    return out;
}

template <class T>
std::vector<T> recordsOf(const std::vector<uint8_t>& bytes, size_t n) {
    std::vector<T> out(n);
    std::memcpy(out.data(), bytes.data(), n * sizeof(T));
    return out;
}

// Two warps per block of 32 x 2; the SPIR-V module runs one warp per workgroup.
uint32_t lzBlocks(uint32_t chunks, uint32_t per_item) {
    const uint32_t items = (chunks + per_item - 1) / per_item;
    return (items + 1) / 2;
}

}  // namespace

std::vector<uint8_t> runLz(Backend backend, const Batch& b, const LzRun& run) {
    std::vector<uint8_t> out(size_t(b.out_len) + kGuardBytes, kGuardFill);
    const uint32_t count = uint32_t(b.descs.size());
    const uint32_t per_item = run.chunks_per_item ? run.chunks_per_item : b.chunks_per_item;
    // The pipelined kernel decodes one work item per block of 32 x 4.
    const uint32_t items = (count + per_item - 1) / per_item;
    const uint32_t blocks = run.kernel == LzKernel::Pipelined ? items : lzBlocks(count, per_item);
    if (blocks == 0) return out;
    const std::vector<uint32_t> starts = subChunkStarts(b);
    const uint32_t subchunk = KVN_SUBCHUNK_SIZE;
    const uint32_t dict_len = uint32_t(b.dictionary.size());
    const uint8_t* dict = b.use_dictionary ? b.dictionary.data() : nullptr;
    std::vector<uint8_t> scratch;
    uint64_t stride = 0;
    if (run.scratch) {
        stride = run.scratch->literals.size();
        scratch = run.scratch->literals;
        scratch.insert(scratch.end(), run.scratch->tokens.begin(), run.scratch->tokens.end());
        scratch.insert(scratch.end(), run.scratch->off16.begin(), run.scratch->off16.end());
    }

    if (backend == Backend::Host) {
        const uint8_t* payload = b.payload.data();
        const uint32_t* descs = reinterpret_cast<const uint32_t*>(b.descs.data());
        uint8_t* o = out.data();
        const uint32_t* count_cell = &count;
        host::LaunchResult r;
        if (run.kernel == LzKernel::General) {
            const uint8_t* s = run.scratch ? scratch.data() : nullptr;
            const uint32_t* first = starts.data();
            r = host::runKernel("kvnLzDecodeKernel", {.grid_x = blocks}, payload, descs, o, per_item, count_cell,
                                subchunk, s, stride, first, dict, dict_len, 0u);
        } else if (run.kernel == LzKernel::Raw) {
            r = host::runKernel("kvnLzDecodeRawKernel", {.grid_x = blocks}, payload, descs, o, per_item, count_cell,
                                subchunk, dict, dict_len);
        } else {
            if (run.leaves) run.leaves->assign(count, 0xFFFFFFFFu);
            uint32_t* leaves = run.leaves ? run.leaves->data() : nullptr;
            r = host::runKernel("kvnLzDecodeRawPipelinedKernel", {.grid_x = blocks}, payload, descs, o, per_item,
                                count_cell, subchunk, dict, dict_len, leaves);
        }
        EXPECT_TRUE(r.ok()) << r.fault;
        return out;
    }

    DeviceBuffers dev;
    uint64_t payload = dev.copyOf(b.payload);
    uint64_t descs = dev.copyOf(b.descs);
    uint64_t o = dev.copyOf(out);
    uint64_t count_cell = dev.copyOf(std::vector<uint32_t>{count});
    uint32_t out_len = b.out_len, payload_len = uint32_t(b.payload.size()), dlen = dict_len;
    uint32_t cpi = per_item, sc = subchunk;
    uint64_t dict_addr = 0;
    if (dict) dict_addr = bufferDeviceAddress(dev.copyOf(b.dictionary));
    uint32_t dict_lo = low32(dict_addr), dict_hi = high32(dict_addr);
    if (run.kernel == LzKernel::General) {
        uint64_t first = dev.copyOf(starts);
        uint64_t diag = dev.copyOf(std::vector<uint32_t>(16, 0));
        uint64_t a = 0;
        if (run.scratch) a = bufferDeviceAddress(dev.copyOf(scratch));
        const uint64_t lit = a, tok = a ? a + stride : 0, off16 = a ? a + 2 * stride : 0;
        uint32_t lit_lo = low32(lit), lit_hi = high32(lit), tok_lo = low32(tok), tok_hi = high32(tok);
        uint32_t o16_lo = low32(off16), o16_hi = high32(off16);
        void* params[] = {&payload, &descs,  &o,      &count_cell, &first,   &diag,    &cpi,    &sc,
                          &lit_lo,  &lit_hi, &tok_lo, &tok_hi,     &o16_lo,  &o16_hi,  &dict_lo, &dict_hi,
                          &dlen,    &out_len, &payload_len};
        launchDecodeKernel(&DecodeKernelHandles::kernel_fn, blocks * 2, params);
    } else {
        void* params[] = {&payload, &descs, &o, &count_cell, &cpi, &sc, &dict_lo, &dict_hi, &dlen, &payload_len, &out_len};
        if (run.kernel == LzKernel::Raw) {
            launchDecodeKernel(&DecodeKernelHandles::kernel_raw_fn, blocks * 2, params);
        } else {
            launchDecodeKernel(&DecodeKernelHandles::kernel_raw_pipeline_fn, blocks, params);
        }
    }
    return dev.read(o, out.size());
}

ScanLists runScanParse(Backend backend, const Batch& b) {
    const uint32_t n = std::max(subChunkTotal(b), 1u);
    const uint32_t count = uint32_t(b.descs.size());
    const std::vector<uint32_t> starts = subChunkStarts(b);
    const uint32_t payload_end = uint32_t(b.payload.size());
    const uint32_t subchunk = KVN_SUBCHUNK_SIZE;
    const uint32_t blocks = (count + 255) / 256;
    ScanLists lists;
    for (auto& l : lists.huff) l.assign(n, KvnScanHuffDesc{});
    for (auto& l : lists.raw) l.assign(n, KvnScanRawDesc{});
    if (backend == Backend::Host) {
        const uint32_t* count_cell = &count;
        const host::LaunchResult r = host::runKernel(
            "kvnScanParseKernel", {.grid_x = blocks}, b.payload.data(), payload_end,
            reinterpret_cast<const uint32_t*>(b.descs.data()), starts.data(), count_cell, subchunk,
            reinterpret_cast<uint32_t*>(lists.huff[0].data()), reinterpret_cast<uint32_t*>(lists.huff[1].data()),
            reinterpret_cast<uint32_t*>(lists.huff[2].data()), reinterpret_cast<uint32_t*>(lists.huff[3].data()),
            reinterpret_cast<uint32_t*>(lists.raw[0].data()), reinterpret_cast<uint32_t*>(lists.raw[1].data()));
        EXPECT_TRUE(r.ok()) << r.fault;
        return lists;
    }
    DeviceBuffers dev;
    uint64_t payload = dev.copyOf(b.payload), descs = dev.copyOf(b.descs), first = dev.copyOf(starts);
    uint64_t count_cell = dev.copyOf(std::vector<uint32_t>{count});
    uint64_t huff[4], raw[2];
    for (int i = 0; i < 4; ++i) huff[i] = dev.copyOf(lists.huff[i]);
    for (int i = 0; i < 2; ++i) raw[i] = dev.copyOf(lists.raw[i]);
    uint32_t end = payload_end, sc = subchunk;
    void* params[] = {&payload, &descs,  &first,   &count_cell, &huff[0], &huff[1],
                      &huff[2], &huff[3], &raw[0], &raw[1],     &end,     &sc};
    launchDecodeKernel(&DecodeKernelHandles::scan_parse_fn, blocks, params);
    for (int i = 0; i < 4; ++i) lists.huff[i] = recordsOf<KvnScanHuffDesc>(dev.read(huff[i], n * sizeof(KvnScanHuffDesc)), n);
    for (int i = 0; i < 2; ++i) lists.raw[i] = recordsOf<KvnScanRawDesc>(dev.read(raw[i], n * sizeof(KvnScanRawDesc)), n);
    return lists;
}

std::vector<uint8_t> runGather(Backend backend, const std::vector<uint8_t>& payload, uint32_t payload_end,
                               const std::vector<KvnRawOff16Desc>& list, uint32_t slots, std::vector<uint8_t> region) {
    const uint32_t count = uint32_t(list.size());
    std::vector<KvnRawOff16Desc> padded = list;
    padded.resize(std::max<size_t>(slots, 1));
    if (backend == Backend::Host) {
        const uint32_t* count_cell = &count;
        const host::LaunchResult r = host::runKernel(
            "kvnGatherRawOff16Kernel", {.grid_x = slots}, payload.data(), payload_end, region.data(),
            reinterpret_cast<const uint32_t*>(padded.data()), count_cell, 0u, 0u);
        EXPECT_TRUE(r.ok()) << r.fault;
        return region;
    }
    DeviceBuffers dev;
    uint64_t p = dev.copyOf(payload), r = dev.copyOf(region), l = dev.copyOf(padded);
    uint64_t count_cell = dev.copyOf(std::vector<uint32_t>{count});
    uint32_t end = payload_end;
    void* params[] = {&p, &r, &l, &count_cell, &end};
    launchDecodeKernel(&DecodeKernelHandles::gather_off16_fn, slots, params);
    return dev.read(r, region.size());
}

}  // namespace kvn::dectest
