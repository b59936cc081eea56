#include "pipeline/decode/dispatch_trace.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

bool traced() { return decodeDiagnostics().slot_trace == SlotTrace::AllocTrace && envPresent("KVN_ALLOC_TRACE"); }

const char* yesNo(bool value) { return value ? "true" : "false"; }

}  // namespace

void traceDispatch(const DecoderState& decoder, const DecodeBatch& batch, const BatchBuffers& buffers,
                   const WindowPlan& plan, uint32_t streams) {
    if (!traced()) return;
    const DeviceSlot& scratch = decoder.device_slots[kEntropyScratch];
    const uint32_t* c = plan.counters;
    std::fprintf(stderr,
                 "[dispatch-trace] ts=%" PRIu64 " batch_cap=%" PRIu64 " want_batched=%s batched=%s counts={ %u, %u, %u, "
                 "%u, %u, %u } scratch_base=0x%" PRIx64 " tok_off=%" PRIu64 " off16_off=%" PRIu64
                 " have_huff=%s n_huff=%u sub_chunk_cap=%u total_chunks=%" PRIu64 " scratch_size=%" PRIu64 "\n",
                 buffers.subchunks, std::min(buffers.batch_cap, buffers.subchunks), yesNo(plan.wanted),
                 yesNo(!plan.windows.empty()), c[0], c[1], c[2], c[3], c[4], c[5],
                 bufferDeviceAddress(scratch.handle), buffers.tok_region_off, buffers.off16_region_off,
                 yesNo(streams > 0), streams, batch.subchunk_size, batch.chunk_count, scratch.capacity);
}

void traceWindow(uint32_t index, const BatchWindow& window, uint64_t half_offset, uint64_t stride) {
    if (!traced()) return;
    std::fprintf(stderr,
                 "[dispatch-trace] batch=%u first_chunk=%u n_chunks=%u sub_start=%u n_subs=%u window=%u "
                 "scratch_off=%" PRIu64 " stride=%" PRIu64 "\n",
                 index, window.first_chunk, window.n_chunks, window.sub_start, window.n_subs, index & 1, half_offset,
                 stride);
}

}  // namespace kvn
