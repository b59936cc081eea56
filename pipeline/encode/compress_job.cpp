#include "pipeline/encode/compress_job.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/encode/byte_plane_choice.h"
#include "core/encode/encode_params.h"
#include "core/errors.h"
#include "core/handle/handle.h"
#include "core/interface/backend.h"
#include "core/timing/last_timings.h"
#include "core/timing/timing_records.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/device/gpu_work_lock.h"
#include "pipeline/encode/frame_planner.h"
#include "pipeline/encode/frame_source.h"

namespace kvn {
namespace {

// The result of a job: the size, after the copy of the frames at dst_host to
// the caller's device destination when they are not there already.
int32_t finishedResult(const CompressJob& job, const EncoderState& encoder, uint64_t size) {
    if (encoder.dev_dst && !encoder.result_on_device && size != 0) {
        const GpuOpsTable& ops = gpuOps();
        if (!ops.memcpyHtoD) return compressStatusFromError(Error::BackendNotAvailable);
        if (const Error e = ops.memcpyHtoD(encoder.dev_dst, job.dst_host, size); e != Error::None)
            return compressStatusFromError(e);
    }
    return static_cast<int32_t>(size);
}

// The automatic byte-plane pass: with the stride the sample asks for, the
// input is compressed again into a buffer of its own, and that output
// replaces the first only when it is strictly smaller. It never turns a
// success into a failure.
WrittenBytes secondPassWithStride(const CompressJob& job, EncodeParams params, EncoderState& encoder,
                                  WrittenBytes first) {
    const uint64_t sample_len = std::min(job.src_len, kBytePlaneSampleBytes);
    const HostSource sample = hostSourceBytes(job.src_host, sample_len, encoder);
    if (sample.error != Error::None) return first;
    params.byte_plane_stride = chooseBytePlaneStride(sample.bytes, sample_len);
    if (params.byte_plane_stride == 0) return first;
    const uint64_t cap = job.dst_cap > 16 ? job.dst_cap : 16;
    const std::unique_ptr<uint8_t[]> second(new (std::nothrow) uint8_t[cap]);
    if (!second) return first;
    // The first output may already be in a device destination: the second
    // stays on the host until it has won.
    const DeviceBufferHandle dev_dst = encoder.dev_dst;
    const bool first_on_device = encoder.result_on_device;
    encoder.dev_dst = 0;
    const WrittenBytes out = compressFrames(job.src_host, job.src_len, second.get(), cap, params, encoder);
    encoder.dev_dst = dev_dst;
    encoder.result_on_device = first_on_device;
    if (out.error != Error::None || out.size >= first.size) return first;
    std::memcpy(job.dst_host, second.get(), out.size);
    encoder.result_on_device = false;
    return out;
}

// The copies into a device destination are queued on the device layer's own
// queue, which a caller's non-blocking stream does not wait for: they are
// done before the call returns, whatever its result, so that no write lands
// in the caller's buffer after it.
int32_t destinationWritesDone(const EncoderState& encoder, int32_t result) {
    if (!encoder.dev_dst) return result;
    const GpuOpsTable& ops = gpuOps();
    const Error done = ops.ctxSynchronize ? ops.ctxSynchronize() : Error::BackendNotAvailable;
    return done != Error::None && result >= 0 ? compressStatusFromError(done) : result;
}

WrittenBytes callerStreamDone(StreamHandle stream) {
    if (!stream) return {0, Error::None};
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamSynchronize) return {0, Error::BackendNotAvailable};
    return {0, ops.streamSynchronize(stream)};
}

}  // namespace

void runCompressJob(CompressJob* job) {
    const GpuOpsTable& ops = gpuOps();
    if (!ensureDevice() || !ops.ctxSetCurrent || ops.ctxSetCurrent(nullptr) != Error::None) {
        job->result = compressStatusFromError(Error::BackendNotAvailable);
        return;
    }
    KvnHandle& handle = *job->handle;
    EncoderState& encoder = handle.encoder;
    const TimedJob timed(handle, JobSide::Encoder);
    if (job->dev_src) encoder.dev_src = job->dev_src;
    if (job->dev_dst) {
        encoder.dev_dst = job->dev_dst;
        encoder.result_on_device = false;
    }
    encoder.record_timings = job->opts.record_timings != 0;

    const EncodeParams params = encodeParamsFromOptions(job->opts);
    // A compress call's device work (transforms, frames, trailers, copies to
    // a device destination) runs on the device layer's own queue and waits on
    // it context-wide, also when the caller has a stream of its own: no other
    // call's work is interleaved with it.
    const LockGuard work_lock(g_gpu_work_lock);
    // The encode reads the source and writes the destination on the device
    // layer's own queue: what the caller queued on its stream before the
    // call (the writes of the source, say) completes first.
    WrittenBytes out = callerStreamDone(job->stream);
    if (out.error == Error::None)
        out = compressFrames(job->src_host, job->src_len, job->dst_host, job->dst_cap, params, encoder);
    if (out.error == Error::None && params.byte_plane_auto && job->src_len > 0)
        out = secondPassWithStride(*job, params, encoder, out);
    job->result = out.error != Error::None ? compressStatusFromError(out.error) : finishedResult(*job, encoder, out.size);
    job->result = destinationWritesDone(encoder, job->result);

    encoder.dev_src = 0;
    encoder.dev_dst = 0;
    encoder.result_on_device = false;
    if (!job->stream) resolvePendingTimings(backend().deviceOps(), encoder.pending_timings, encoder.timings);
    encoder.record_timings = false;
}

}  // namespace kvn
