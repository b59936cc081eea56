#include "pipeline/encode/encode_stream.h"

#include "pipeline/device/device_ops.h"

namespace kvn {

Error ensureEncodeStream(EncoderState& encoder) {
    if (encoder.own_stream_created) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamCreate) return Error::BackendNotAvailable;
    KVN_TRY(ops.streamCreate(&encoder.own_stream, 0));
    encoder.own_stream_created = true;
    return Error::None;
}

Error queueUpload(EncoderState& encoder, DeviceBufferHandle dst, const void* src, uint64_t bytes) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoDAsync) return Error::BackendNotAvailable;
    KVN_TRY(ensureEncodeStream(encoder));
    return ops.memcpyHtoDAsync(dst, src, bytes, encoder.own_stream);
}

Error queueRead(EncoderState& encoder, void* dst, DeviceBufferHandle src, uint64_t bytes) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHAsync) return Error::BackendNotAvailable;
    KVN_TRY(ensureEncodeStream(encoder));
    return ops.memcpyDtoHAsync(dst, src, bytes, encoder.own_stream);
}

Error waitEncodeStream(EncoderState& encoder) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamSynchronize) return Error::BackendNotAvailable;
    KVN_TRY(ensureEncodeStream(encoder));
    return ops.streamSynchronize(encoder.own_stream);
}

}  // namespace kvn
