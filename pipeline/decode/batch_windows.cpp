#include "pipeline/decode/batch_windows.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/format/chunk_walk.h"
#include "core/platform/platform.h"
#include "kernels/format_constants.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/dispatch_trace.h"
#include "pipeline/decode/huffman_stage.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/lz_launch_forms.h"
#include "pipeline/decode/second_stream.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint32_t kMaxWindows = 512;

// Windows over the batch's work items (chunks an item walks may read each
// other, so an item never straddles windows), each of at most `cap` slots.
// Empty when an item alone exceeds the cap or the windows are too many.
std::vector<BatchWindow> formWindows(const DecodeBatch& batch, uint64_t cap) {
    std::vector<BatchWindow> windows;
    const uint32_t per_item = batch.chunks_per_item ? batch.chunks_per_item : 1;
    BatchWindow current{0, 0, 0, 0};
    uint32_t slot = 0;
    for (uint64_t first = 0; first < batch.chunk_count; first += per_item) {
        const uint64_t end = std::min<uint64_t>(first + per_item, batch.chunk_count);
        uint32_t subs = 0;
        for (uint64_t c = first; c < end; ++c)
            if (holdsStreams(batch.host_descs[c])) subs += chunkSubChunkCount(batch.host_descs[c], batch.subchunk_size);
        if (subs > cap) return {};
        if (current.n_chunks > 0 && current.n_subs + subs > cap) {
            windows.push_back(current);
            current = {uint32_t(first), 0, slot, 0};
        }
        current.n_chunks += uint32_t(end - first);
        current.n_subs += subs;
        slot += subs;
    }
    if (current.n_chunks > 0) windows.push_back(current);
    if (windows.size() > kMaxWindows) return {};
    return windows;
}

uint64_t roundUp256(uint64_t n) { return (n + 255) & ~uint64_t{255}; }

}  // namespace

Error planWindows(DecoderState& decoder, const WindowedBatch& w, StreamHandle stream, WindowPlan* plan) {
    *plan = WindowPlan{};
    plan->wanted = true;
    const GpuOpsTable& ops = gpuOps();
    if (!w.batch.host_descs || w.buffers.slot_starts.empty()) return Error::None;
    // The list counts decide whether the batch can be windowed.
    uint8_t counters[kDescCounterBytes];
    KVN_TRY(checkSync(ops.streamSynchronize(stream)));
    KVN_TRY(checkCopy(ops.memcpyDtoH(counters, slotHandle(decoder, kDescCounters), kDescCounterBytes)));
    constexpr uint32_t kCells[6] = {0, 1, 2, 3, KVN_DESC_COUNTER_RAW, KVN_DESC_COUNTER_MERGED};
    for (uint32_t i = 0; i < 6; ++i) std::memcpy(&plan->counters[i], counters + descCounterAt(kCells[i]), 4);
    bool batched = w.buffers.coded_slots > 0;
    for (uint32_t list = 0; list < 4; ++list) batched &= plan->counters[list] == w.buffers.coded_slots;
    if (batched) plan->windows = formWindows(w.batch, w.cap);
    return Error::None;
}

Error decodeInWindows(DecoderState& decoder, const WindowedBatch& w, const WindowPlan& plan, StreamHandle stream) {
    const BatchBuffers& buffers = w.buffers;
    const GpuOpsTable& ops = gpuOps();
    const std::vector<BatchWindow>& windows = plan.windows;
    const std::optional<LzKernelChoice> general = generalLzKernel();
    if (!general) return Error::KernelMissing;

    // Each window's slots, rebased to its first; the half holds the largest window.
    const std::vector<uint32_t>& starts = buffers.slot_starts;
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> table_at;
    std::vector<uint32_t> chunk_counts;
    uint64_t half = 0;
    for (const BatchWindow& win : windows) {
        table_at.push_back(uint32_t(offsets.size()));
        const uint32_t base = starts[win.sub_start];
        for (uint32_t s = win.sub_start; s <= win.sub_start + win.n_subs; ++s) offsets.push_back(starts[s] - base);
        half = std::max<uint64_t>(half, starts[win.sub_start + win.n_subs] - base);
        chunk_counts.push_back(win.n_chunks);
    }
    half = roundUp256(std::max<uint64_t>(half, 1));
    KVN_TRY(ensureDeviceSlot(decoder, kEntropyScratch, 2 * 3 * half));
    KVN_TRY(ensureDeviceSlot(decoder, kWindowOffsets, 4 * offsets.size()));
    KVN_TRY(ensureDeviceSlot(decoder, kWindowCounts, 4 * chunk_counts.size()));
    // Synchronous: both tables live on this stack frame.
    KVN_TRY(checkCopy(ops.memcpyHtoD(slotHandle(decoder, kWindowOffsets), offsets.data(), 4 * offsets.size())));
    KVN_TRY(checkCopy(ops.memcpyHtoD(slotHandle(decoder, kWindowCounts), chunk_counts.data(), 4 * chunk_counts.size())));
    const uint64_t scratch = bufferDeviceAddress(slotHandle(decoder, kEntropyScratch));
    if (scratch == 0) return Error::BackendNotAvailable;

    // Every stream's table once, on the decode stream; then window by window
    // its streams into its half and its chunks from there. With a side
    // stream a window's streams are decoded there while the window before is
    // LZ-decoded: the side stream waits for its half to be free (the LZ
    // decode of the window two before), the LZ decode for its streams.
    KVN_TRY(launchHuffTables(decoder, buffers, stream, 0, w.streams));
    SecondStream side;
    KVN_TRY(openSideStream(decoder, stream, &side));
    const LzLaunchArgs shared = lzLaunchArgs(buffers, w.lz);
    const uint32_t per_item = shared.chunks_per_item;
    auto decodeWindow = [&](uint32_t i) -> Error {
        const BatchWindow& win = windows[i];
        const uint32_t h = i & 1;
        const uint64_t base = scratch + h * 3 * half;
        traceWindow(i, win, h * 3 * half, half);
        if (win.n_subs > 0) {
            if (side.side && i > 1) KVN_TRY(waitSideEvent(decoder, side.stream, kHalfFree + h));
            const HuffStreamAreas areas{base, base + half, base + 2 * half, starts[win.sub_start]};
            for (uint32_t list = 0; list < 4; ++list) {
                KVN_TRY(launchHuffStreams(decoder, buffers, side.stream,
                                          list * uint32_t(buffers.coded_slots) + win.sub_start, win.n_subs, areas,
                                          nullptr));
            }
            if (side.side) {
                KVN_TRY(markSideEvent(decoder, kSideDone, side.stream));
                KVN_TRY(waitSideEvent(decoder, stream, kSideDone));
            }
        }
        const uint32_t items = (win.n_chunks + per_item - 1) / per_item;
        KernelCall call(general->kernel, lzWorkgroups(items));
        LzLaunchArgs args = shared;
        args.descs_off = uint64_t(win.first_chunk) * sizeof(KvnChunkDesc);
        args.chunk_count = slotHandle(decoder, kWindowCounts);
        args.chunk_count_off = uint64_t(i) * 4;
        const LzScratchArgs streams{
            .scratch = base,
            .token_off = half,
            .off16_off = 2 * half,
            .first_subchunk = slotHandle(decoder, kSubchunkStarts),
            .first_subchunk_off = uint64_t(win.first_chunk) * 4,
            .scratch_offsets = slotHandle(decoder, kWindowOffsets),
            .scratch_offsets_off = uint64_t(table_at[i]) * 4,
            .first_slot = win.sub_start,
        };
        KVN_TRY(addGeneralLzArguments(call, args, streams));
        KVN_TRY(call.launch(decoder, stream));
        KVN_TRY(computeBarrier(stream));
        if (side.side) KVN_TRY(markSideEvent(decoder, kHalfFree + h, stream));
        // KVN_BATCH_DBG: each window done before the next is queued.
        if (!envPresent("KVN_BATCH_DBG")) return Error::None;
        KVN_TRY(checkSync(ops.streamSynchronize(side.stream)));
        return checkSync(ops.streamSynchronize(stream));
    };
    Error error = Error::None;
    for (uint32_t i = 0; i < windows.size() && error == Error::None; ++i) error = decodeWindow(i);
    // Joined whatever happened: the decode stream must cover the side stream's work.
    const Error joined = joinSecondStream(decoder, stream, side);
    KVN_TRY(error);
    return joined;
}

}  // namespace kvn
