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
// Batches of at most this many sub-chunks are never capped.
constexpr uint64_t kWindowFloor = 256;

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

// Every window's own tables in one upload, each at an offset a binding
// accepts: its chunk count, its descriptors, its chunks' first slots counted
// from the window's first, and its slot starts counted from the first slot's.
struct WindowTables {
    std::vector<uint8_t> bytes;
    struct At {
        uint64_t count, descs, slots, offsets;
    };
    std::vector<At> at;
    uint64_t alignment;

    uint64_t place(const void* data, uint64_t size) {
        const uint64_t offset = (bytes.size() + alignment - 1) / alignment * alignment;
        bytes.resize(offset + std::max<uint64_t>(size, 4));
        if (size > 0) std::memcpy(bytes.data() + offset, data, size);
        return offset;
    }
};

WindowTables windowTables(const DecodeBatch& batch, const BatchBuffers& buffers, const std::vector<BatchWindow>& windows) {
    WindowTables tables{{}, {}, std::max<uint64_t>(deviceBindingAlignment(), 16)};
    const std::vector<uint32_t>& starts = buffers.slot_starts;
    for (const BatchWindow& win : windows) {
        std::vector<uint32_t> slots(win.n_chunks, 0);
        for (uint32_t c = 0; c < win.n_chunks; ++c) {
            const uint32_t chunk = win.first_chunk + c;
            // Chunks without streams read no slot.
            if (holdsStreams(batch.host_descs[chunk])) slots[c] = buffers.chunk_slots[chunk] - win.sub_start;
        }
        std::vector<uint32_t> offsets;
        for (uint32_t s = win.sub_start; s <= win.sub_start + win.n_subs; ++s)
            offsets.push_back(starts[s] - starts[win.sub_start]);
        WindowTables::At at{};
        at.count = tables.place(&win.n_chunks, 4);
        at.descs = tables.place(batch.host_descs + win.first_chunk, sizeof(KvnChunkDesc) * win.n_chunks);
        at.slots = tables.place(slots.data(), 4 * slots.size());
        at.offsets = tables.place(offsets.data(), 4 * offsets.size());
        tables.at.push_back(at);
    }
    return tables;
}

}  // namespace

uint64_t batchWindowCap(uint64_t subchunks, uint64_t region_bytes) {
    if (subchunks <= kWindowFloor) return subchunks;
    uint64_t cap = subchunks;
    if (const char* text = envText("KVN_BATCH_CAP")) {
        const std::optional<uint64_t> value = parseDecimal(text, 0xFFFFFFFFull);
        cap = std::min(value && *value > kWindowFloor ? *value : kWindowFloor, subchunks);
    } else {
        cap = decodeBatchCap(subchunks);
    }
    const uint64_t limit = deviceBindingLimit();
    if (region_bytes > limit) cap = std::min(cap, std::max(kWindowFloor, limit / kSubchunkScratchBytes));
    return cap;
}

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

    // The half holds the largest window's streams.
    const std::vector<uint32_t>& starts = buffers.slot_starts;
    uint64_t half = 0;
    for (const BatchWindow& win : windows)
        half = std::max<uint64_t>(half, starts[win.sub_start + win.n_subs] - starts[win.sub_start]);
    half = roundUp256(std::max<uint64_t>(half, 1));
    const WindowTables tables = windowTables(w.batch, buffers, windows);
    KVN_TRY(ensureDeviceSlot(decoder, kEntropyScratch, 2 * 3 * half));
    KVN_TRY(ensureDeviceSlot(decoder, kWindowTables, tables.bytes.size()));
    // Synchronous: the tables live on this stack frame.
    const DeviceBufferHandle table_buf = slotHandle(decoder, kWindowTables);
    KVN_TRY(checkCopy(ops.memcpyHtoD(table_buf, tables.bytes.data(), tables.bytes.size())));
    const uint64_t scratch = bufferDeviceAddress(slotHandle(decoder, kEntropyScratch));
    if (scratch == 0) return Error::BackendNotAvailable;
    // Streams whose tables the table array holds at once.
    const uint32_t tables_held =
        uint32_t(std::max<uint64_t>(decoder.device_slots[kHuffLuts].capacity / kHuffLutBytes, 1));

    // Window by window its streams into its half and its chunks from there.
    // With a side stream a window's streams are decoded there while the
    // window before is LZ-decoded: the side stream waits for its half to be
    // free (the LZ decode of the window two before), the LZ decode for its
    // streams.
    SecondStream side;
    KVN_TRY(openSideStream(decoder, stream, &side));
    const LzLaunchArgs shared = lzLaunchArgs(buffers, w.lz);
    const uint32_t per_item = shared.chunks_per_item;
    auto decodeWindow = [&](uint32_t i) -> Error {
        const BatchWindow& win = windows[i];
        const WindowTables::At& at = tables.at[i];
        const uint32_t h = i & 1;
        const uint64_t base = scratch + h * 3 * half;
        traceWindow(i, win, h * 3 * half, half);
        if (win.n_subs > 0) {
            if (side.side && i > 1) KVN_TRY(waitSideEvent(decoder, side.stream, kHalfFree + h));
            // A stream's place is its slot's batch offset less the window's
            // first: the CUDA form subtracts it, the Vulkan form writes at
            // areas that stand where that slot lands at the half's start.
            const uint32_t first_at = starts[win.sub_start];
            const uint64_t shift = kernelsTakeCudaForms() ? 0 : first_at;
            const HuffStreamAreas areas{base - shift, base + half - shift, base + 2 * half - shift,
                                        kernelsTakeCudaForms() ? first_at : 0};
            for (uint32_t list = 0; list < 4; ++list) {
                const uint32_t first = list * uint32_t(buffers.coded_slots) + win.sub_start;
                for (uint32_t done = 0; done < win.n_subs; done += tables_held) {
                    const uint32_t count = std::min(tables_held, win.n_subs - done);
                    KVN_TRY(launchHuffTables(decoder, buffers, side.stream, first + done, count));
                    KVN_TRY(launchHuffStreams(decoder, buffers, side.stream, first + done, count, areas, nullptr));
                }
            }
            if (side.side) {
                KVN_TRY(markSideEvent(decoder, kSideDone, side.stream));
                KVN_TRY(waitSideEvent(decoder, stream, kSideDone));
            }
        }
        const uint32_t items = (win.n_chunks + per_item - 1) / per_item;
        KernelCall call(general->kernel, lzWorkgroups(items));
        LzLaunchArgs args = shared;
        args.descs = table_buf;
        args.descs_off = at.descs;
        args.chunk_count = table_buf;
        args.chunk_count_off = at.count;
        const LzScratchArgs streams{
            .scratch = base,
            .token_off = half,
            .off16_off = 2 * half,
            .first_subchunk = table_buf,
            .first_subchunk_off = at.slots,
            .scratch_offsets = table_buf,
            .scratch_offsets_off = at.offsets,
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
