#include "pipeline/decode/off16_gather.h"

#include "kernels/format_constants.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/second_stream.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {

Error launchGatherRawOff16(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream, uint32_t slots,
                           uint64_t payload_len) {
    if (slots == 0) return Error::None;
    const std::optional<KernelHandle> gather = getKernelHandle(&DecodeKernelHandles::gather_off16_fn);
    if (!gather) return Error::KernelMissing;
    KernelCall call(*gather, slots);
    call.buffer(batch.payload_buf).buffer(slotHandle(decoder, kEntropyScratch), batch.off16_region_off);
    call.buffer(slotHandle(decoder, kOff16List)).buffer(slotHandle(decoder, kDescCounters), descCounterAt(KVN_DESC_COUNTER_RAW));
    call.word(uint32_t(payload_len + batch.payload_buf_off));
    // The CUDA form also takes a first slot and a destination base: the whole list, from the region's start.
    if (kernelsTakeCudaForms()) call.word(0).word(0);
    // The list and its count come from the compaction queued before the fork.
    SecondStream side;
    KVN_TRY(openSideStream(decoder, stream, &side));
    KVN_TRY(call.launch(decoder, side.stream, "kvnGatherRawOff16Kernel"));
    if (!side.side) return computeBarrier(stream);
    decoder.gather_pending = true;
    return Error::None;
}

Error joinGather(DecoderState& decoder, StreamHandle stream) {
    if (!decoder.gather_pending) return Error::None;
    decoder.gather_pending = false;
    return joinSecondStream(decoder, stream, SecondStream{decoder.side_stream, true, false});
}

void drainGather(DecoderState& decoder) {
    if (!decoder.gather_pending) return;
    decoder.gather_pending = false;
    gpuOps().streamSynchronize(decoder.side_stream);
}

}  // namespace kvn
