#include "pipeline/decode/second_stream.h"

#include "pipeline/decode/decode_batch.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint32_t kEventNoTiming = 2;

// The side stream and its events, made once per handle; false when the
// device cannot make them (the work then stays on the decode stream).
bool ensureSideStream(DecoderState& decoder) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamCreate || !ops.eventCreate || !ops.eventRecord || !ops.streamWaitEvent) return false;
    if (!decoder.side_stream_created) {
        if (ops.streamCreate(&decoder.side_stream, 0) != Error::None) return false;
        decoder.side_stream_created = true;
    }
    for (EventHandle& event : decoder.side_events)
        if (!event && ops.eventCreate(&event, kEventNoTiming) != Error::None) {
            event = 0;
            return false;
        }
    return true;
}

}  // namespace

Error markSideEvent(DecoderState& decoder, uint32_t which, StreamHandle stream) {
    return checkSync(gpuOps().eventRecord(decoder.side_events[which], stream));
}

Error waitSideEvent(DecoderState& decoder, StreamHandle waiter, uint32_t which) {
    return checkSync(gpuOps().streamWaitEvent(waiter, decoder.side_events[which]));
}

Error openSecondStream(DecoderState& decoder, StreamHandle stream, bool own_stream, SecondStream* second) {
    const GpuOpsTable& ops = gpuOps();
    *second = SecondStream{stream, false, false};
    const SecondStreamForm form = decodeSecondStreamForm(own_stream);
    if (form.kind == SecondStreamKind::AuxPart && ops.streamSwitchToAux && ops.memcpyDtoHXferAsync) {
        KVN_TRY(checkSync(ops.streamSwitchToAux(stream)));
        second->dedicated_copy = form.dedicated_copy;
        return Error::None;
    }
    return openSideStream(decoder, stream, second);
}

Error openSideStream(DecoderState& decoder, StreamHandle stream, SecondStream* second) {
    *second = SecondStream{stream, false, false};
    if (decodeSecondStreamForm(stream == decoder.own_stream).kind != SecondStreamKind::SideStream ||
        !ensureSideStream(decoder))
        return Error::None;
    KVN_TRY(markSideEvent(decoder, kDecodeReady, stream));
    KVN_TRY(waitSideEvent(decoder, decoder.side_stream, kDecodeReady));
    second->stream = decoder.side_stream;
    second->side = true;
    return Error::None;
}

Error joinSecondStream(DecoderState& decoder, StreamHandle stream, const SecondStream& second) {
    if (!second.side) return Error::None;
    if (markSideEvent(decoder, kSideDone, second.stream) == Error::None &&
        waitSideEvent(decoder, stream, kSideDone) == Error::None)
        return Error::None;
    // Without the event the side stream is drained here instead.
    return checkSync(gpuOps().streamSynchronize(second.stream));
}

}  // namespace kvn
