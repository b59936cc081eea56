#include "core/handle/encoder_state.h"

#include "core/handle/heap.h"

namespace kvn {

void releaseEncoderBuffers(EncoderState& encoder) {
    releaseDeviceBuffers(encoder.device_buffers, kEncoderDeviceBuffers, backend().deviceOps());
    encoder.dict_cache_id = 0;
    encoder.merkle_leaves_done = 0;
    encoder.merkle_leaves_valid = false;
}

void deinitEncoderState(EncoderState& encoder) {
    const CoreDeviceOps ops = backend().deviceOps();
    releaseEncoderBuffers(encoder);
    freeHostBuffers(encoder.host_buffers, kEncoderHostBuffers, ops);
    for (HostArray& array : encoder.host_arrays) {
        if (array.capacity) heapFree(array.pointer);
        array = {nullptr, 0};
    }
    freePageBlock(encoder.batched_copies);
    encoder.dictionaries.clear();
    if (encoder.own_stream_created && ops.streamDestroy) ops.streamDestroy(encoder.own_stream);
    encoder.own_stream = 0;
    encoder.own_stream_created = false;
    releaseTimingLists(ops, encoder.pending_timings, encoder.timings);
}

}  // namespace kvn
