#include "core/handle/decoder_state.h"

#include "core/handle/heap.h"

namespace kvn {

int32_t* ensureVerdictCell(DecoderState& decoder) {
    if (!decoder.verdict_cell) {
        decoder.verdict_cell = static_cast<int32_t*>(heapAlloc(sizeof(int32_t)));
        if (decoder.verdict_cell) *decoder.verdict_cell = kVerdictNone;
    }
    return decoder.verdict_cell;
}

void releaseDecoderBuffers(DecoderState& decoder) {
    releaseDeviceBuffers(decoder.device_slots, kDecoderDeviceSlots, backend().deviceOps());
}

void deinitDecoderState(DecoderState& decoder) {
    const CoreDeviceOps ops = backend().deviceOps();
    releaseDecoderBuffers(decoder);
    releaseDeviceBuffers(&decoder.dict_buffer, 1, ops);
    decoder.dict_buffer_id = 0;
    decoder.dict_buffer_len = 0;
    decoder.dictionaries.clear();
    freeHostBuffers(decoder.host_buffers, kDecoderHostBuffers, ops);
    heapFree(decoder.verdict_cell);
    decoder.verdict_cell = nullptr;
    freePageBlock(decoder.status_array);
    if (decoder.own_stream_created && ops.streamDestroy) ops.streamDestroy(decoder.own_stream);
    decoder.own_stream = 0;
    decoder.own_stream_created = false;
    for (EventHandle& event : decoder.side_events) {
        if (event && ops.eventDestroy) ops.eventDestroy(event);
        event = 0;
    }
    if (decoder.side_stream_created && ops.streamDestroy) ops.streamDestroy(decoder.side_stream);
    decoder.side_stream = 0;
    decoder.side_stream_created = false;
    releaseTimingLists(ops, decoder.pending_timings, decoder.timings);
}

}  // namespace kvn
