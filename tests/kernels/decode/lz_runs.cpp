#include "lz_runs.h"

#include <cstring>

#include "kernels/format_constants.h"

namespace kvn::dectest {
namespace {

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
    const std::vector<uint32_t> slot_starts = fullSlotStarts(b);
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
        uint32_t status = 0;
        uint32_t* status_cell = &status;
        if (run.kernel == LzKernel::General) {
            const uint8_t* s = run.scratch ? scratch.data() : nullptr;
            const uint32_t* first = starts.data();
            const uint32_t* slots = slot_starts.data();
            r = host::runKernel("kvnLzDecodeKernel", {.grid_x = blocks}, payload, descs, o, per_item, count_cell,
                                subchunk, s, stride, first, slots, dict, dict_len, 0u, status_cell);
        } else if (run.kernel == LzKernel::Raw) {
            r = host::runKernel("kvnLzDecodeRawKernel", {.grid_x = blocks}, payload, descs, o, per_item, count_cell,
                                subchunk, dict, dict_len, status_cell);
        } else {
            if (run.leaves) run.leaves->assign(count, 0xFFFFFFFFu);
            uint32_t* leaves = run.leaves ? run.leaves->data() : nullptr;
            r = host::runKernel("kvnLzDecodeRawPipelinedKernel", {.grid_x = blocks}, payload, descs, o, per_item,
                                count_cell, subchunk, dict, dict_len, leaves, status_cell);
        }
        EXPECT_TRUE(r.ok()) << r.fault;
        if (run.status) *run.status = status;
        return out;
    }

    test::KernelRig rig(backend);
    const uint32_t payload = rig.bufferOf(b.payload), descs = rig.bufferOf(b.descs), o = rig.bufferOf(out);
    const uint32_t count_cell = rig.bufferOf(std::vector<uint32_t>{count});
    const uint32_t status_cell = rig.bufferOf(std::vector<uint32_t>{0});
    const test::RigArg status = test::rigBuffer(status_cell);
    const test::RigGrid grid{blocks};
    // A missing buffer is address 0: two zero push words.
    const uint32_t dict_buf = dict ? rig.bufferOf(b.dictionary) : 0;
    const test::RigArg dict_arg = test::rigAddress(dict_buf);
    std::string fault;
    if (run.kernel == LzKernel::General) {
        const uint32_t first = rig.bufferOf(starts);
        const test::RigArg slots = test::rigBuffer(rig.bufferOf(slot_starts));
        if (run.scratch) {
            const uint32_t s = rig.bufferOf(scratch);
            fault = dict ? rig.launch("kvnLzDecodeKernel", grid,
                                      {test::rigBuffer(payload), test::rigBuffer(descs), test::rigBuffer(o),
                                       test::rigBuffer(count_cell), test::rigBuffer(first), status, slots, test::rigU32(per_item),
                                       test::rigU32(subchunk), test::rigAddress(s), test::rigAddress(s, stride),
                                       test::rigAddress(s, 2 * stride), dict_arg, test::rigU32(dict_len),
                                       test::rigU32(b.out_len), test::rigU32(uint32_t(b.payload.size()))})
                         : rig.launch("kvnLzDecodeKernel", grid,
                                      {test::rigBuffer(payload), test::rigBuffer(descs), test::rigBuffer(o),
                                       test::rigBuffer(count_cell), test::rigBuffer(first), status, slots, test::rigU32(per_item),
                                       test::rigU32(subchunk), test::rigAddress(s), test::rigAddress(s, stride),
                                       test::rigAddress(s, 2 * stride), test::rigU32(0), test::rigU32(0),
                                       test::rigU32(dict_len), test::rigU32(b.out_len),
                                       test::rigU32(uint32_t(b.payload.size()))});
        } else {
            const test::RigArg zero = test::rigU32(0);
            fault = dict ? rig.launch("kvnLzDecodeKernel", grid,
                                      {test::rigBuffer(payload), test::rigBuffer(descs), test::rigBuffer(o),
                                       test::rigBuffer(count_cell), test::rigBuffer(first), status, slots, test::rigU32(per_item),
                                       test::rigU32(subchunk), zero, zero, zero, zero, zero, zero, dict_arg,
                                       test::rigU32(dict_len), test::rigU32(b.out_len),
                                       test::rigU32(uint32_t(b.payload.size()))})
                         : rig.launch("kvnLzDecodeKernel", grid,
                                      {test::rigBuffer(payload), test::rigBuffer(descs), test::rigBuffer(o),
                                       test::rigBuffer(count_cell), test::rigBuffer(first), status, slots, test::rigU32(per_item),
                                       test::rigU32(subchunk), zero, zero, zero, zero, zero, zero, zero, zero,
                                       test::rigU32(dict_len), test::rigU32(b.out_len),
                                       test::rigU32(uint32_t(b.payload.size()))});
        }
    } else {
        const char* name = run.kernel == LzKernel::Raw ? "kvnLzDecodeRawKernel" : "kvnLzDecodeRawPipelinedKernel";
        fault = dict ? rig.launch(name, grid,
                                  {test::rigBuffer(payload), test::rigBuffer(descs), test::rigBuffer(o),
                                   test::rigBuffer(count_cell), status, test::rigU32(per_item), test::rigU32(subchunk), dict_arg,
                                   test::rigU32(dict_len), test::rigU32(uint32_t(b.payload.size())),
                                   test::rigU32(b.out_len)})
                     : rig.launch(name, grid,
                                  {test::rigBuffer(payload), test::rigBuffer(descs), test::rigBuffer(o),
                                   test::rigBuffer(count_cell), status, test::rigU32(per_item), test::rigU32(subchunk),
                                   test::rigU32(0), test::rigU32(0), test::rigU32(dict_len),
                                   test::rigU32(uint32_t(b.payload.size())), test::rigU32(b.out_len)});
    }
    EXPECT_EQ(fault, "");
    if (run.status) *run.status = rig.readAs<uint32_t>(status_cell).at(0);
    return rig.read(o);
}

ScanLists runScanParse(Backend backend, const Batch& b) {
    const uint32_t n = std::max(subChunkTotal(b), 1u);
    const uint32_t count = uint32_t(b.descs.size());
    const std::vector<uint32_t> starts = subChunkStarts(b);
    const std::vector<uint32_t> slot_starts = fullSlotStarts(b);
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
            reinterpret_cast<uint32_t*>(lists.raw[0].data()), reinterpret_cast<uint32_t*>(lists.raw[1].data()),
            slot_starts.data());
        EXPECT_TRUE(r.ok()) << r.fault;
        return lists;
    }
    test::KernelRig rig(backend);
    const uint32_t huff[4] = {rig.bufferOf(lists.huff[0]), rig.bufferOf(lists.huff[1]), rig.bufferOf(lists.huff[2]),
                              rig.bufferOf(lists.huff[3])};
    const uint32_t raw[2] = {rig.bufferOf(lists.raw[0]), rig.bufferOf(lists.raw[1])};
    const std::string fault = rig.launch(
        "kvnScanParseKernel", {blocks},
        {test::rigBuffer(rig.bufferOf(b.payload)), test::rigBuffer(rig.bufferOf(b.descs)),
         test::rigBuffer(rig.bufferOf(starts)), test::rigBuffer(rig.bufferOf(std::vector<uint32_t>{count})),
         test::rigBuffer(huff[0]), test::rigBuffer(huff[1]), test::rigBuffer(huff[2]), test::rigBuffer(huff[3]),
         test::rigBuffer(raw[0]), test::rigBuffer(raw[1]), test::rigBuffer(rig.bufferOf(slot_starts)),
         test::rigU32(payload_end), test::rigU32(subchunk)});
    EXPECT_EQ(fault, "");
    for (int i = 0; i < 4; ++i) lists.huff[i] = rig.readAs<KvnScanHuffDesc>(huff[i]);
    for (int i = 0; i < 2; ++i) lists.raw[i] = rig.readAs<KvnScanRawDesc>(raw[i]);
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
    test::KernelRig rig(backend);
    const uint32_t r = rig.bufferOf(region);
    const std::string fault = rig.launch(
        "kvnGatherRawOff16Kernel", {slots},
        {test::rigBuffer(rig.bufferOf(payload)), test::rigBuffer(r), test::rigBuffer(rig.bufferOf(padded)),
         test::rigBuffer(rig.bufferOf(std::vector<uint32_t>{count})), test::rigU32(payload_end)});
    EXPECT_EQ(fault, "");
    return rig.read(r);
}

}  // namespace kvn::dectest
