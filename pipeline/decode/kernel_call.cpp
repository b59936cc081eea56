#include "pipeline/decode/kernel_call.h"

#include "core/interface/backend.h"
#include "core/timing/timing_records.h"
#include "pipeline/decode/decode_batch.h"

namespace kvn {

Error KernelCall::launch(DecoderState& decoder, StreamHandle stream, const char* label) const {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.launchKernel) return Error::BackendNotAvailable;
    if (overflow_) return checkLaunch(Error::BadRequest);
    void* params[kMaxBuffers + kMaxWords];
    uint32_t at = 0;
    for (uint32_t i = 0; i < buffer_count_; ++i) params[at++] = const_cast<DeviceBufferHandle*>(&buffers_[i]);
    for (uint32_t i = 0; i < word_count_; ++i) params[at++] = const_cast<uint32_t*>(&words_[i]);

    KernelTiming timing{};
    if (label) {
        timing = beginKernelTiming(backend().deviceOps(), decoder.record_timings, decoder.pending_timings, label,
                                   stream);
    }
    LaunchArgCounts counts{buffer_count_, word_count_};
    void* extra[] = {&counts};
    const Error launched = ops.launchKernel(kernel_, groups_, 1, 1, 32, 1, 1, 0, stream, params, extra, offsets_);
    if (launched == Error::None && timing.ok && ops.eventRecord) ops.eventRecord(timing.end, stream);
    return checkLaunch(launched);
}

}  // namespace kvn
