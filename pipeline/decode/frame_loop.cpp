#include "pipeline/decode/frame_loop.h"

#include <atomic>

#include "core/format/byte_order.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "core/handle/handle.h"
#include "core/timing/last_timings.h"
#include "pipeline/decode/decoder_job.h"
#include "pipeline/decode/frame_decode.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/device/device_ops.h"

namespace kvn {
namespace {

// A job result is a signed 32-bit count: larger totals cannot be reported.
constexpr uint64_t kMaxDecodedTotal = (uint64_t{1} << 31) - 1;

std::atomic<uint32_t> g_checksum_faults{0};

bool takeChecksumFault() {
    uint32_t left = g_checksum_faults.load();
    while (left > 0 && !g_checksum_faults.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}

FrameResult decodeOnce(const uint8_t* frame, uint64_t len, uint8_t* dst, uint64_t cap, DecoderState& decoder) {
    // The list then holds this attempt's entries only: a frame without
    // kernels adds nothing to the total.
    decoder.timings.clear();
    FrameResult result = decodeFrameVk(frame, len, dst, cap, decoder, OutputTarget{});
    if (result.error == Error::None && takeChecksumFault()) return {0, Error::ChecksumMismatch};
    return result;
}

void releaseImports(const DecompressJob& job) {
    if (envPresent("KVN_VK_NO_RELEASE_IMPORTS")) return;
    if (job.src_len) releaseHostRange(job.src, job.src_len);
    if (job.dst_cap) releaseHostRange(job.dst, job.dst_cap);
}

Error decodeFrames(DecompressJob& job, DecoderState& decoder, uint64_t* produced_out) {
    const GpuOpsTable& ops = gpuOps();
    uint64_t offset = 0;
    uint64_t produced = 0;
    float total_ms = 0;
    bool decoded_any = false;
    while (offset < job.src_len) {
        const FrameStep step = nextFrame(job.src, job.src_len, offset);
        if (step.ends_input) break;
        if (step.error != Error::None) return step.error;
        const uint8_t* frame = job.src + offset;
        const FrameHeader& header = step.header;
        // The content size is what the blocks decode to: a header that says
        // more than they hold is damaged, whatever its size.
        if (header.has_content_size && header.content_size != step.raw_total) return Error::SizeMismatch;
        if (header.has_content_size && produced + header.content_size > kMaxDecodedTotal) return Error::BadMode;
        const uint64_t room = job.dst_cap - produced;
        FrameResult result = decodeOnce(frame, step.length, job.dst + produced, room, decoder);
        if (result.error == Error::ChecksumMismatch) {
            if (ops.ctxSynchronize) ops.ctxSynchronize();
            ++decoder.pipeline_retries;
            result = decodeOnce(frame, step.length, job.dst + produced, room, decoder);
        }
        if (result.error != Error::None) return result.error;
        for (const TimingEntry& entry : decoder.timings.items()) total_ms += entry.milliseconds;
        produced += result.bytes;
        if (produced > kMaxDecodedTotal) return Error::BadMode;
        offset += step.length;
        decoded_any = true;
        rearmDecodeProfile();
    }
    if (!decoded_any && job.src_len > 0) return Error::BadFrame;
    if (decodeDiagnostics().call_total_timing) {
        decoder.timings.clear();
        decoder.timings.push(TimingEntry{"multi-frame total", total_ms});
    }
    *produced_out = produced;
    return Error::None;
}

}  // namespace

void injectChecksumFaults(uint32_t count) { g_checksum_faults.store(count); }

void decodeFramesWorker(DecompressJob* job) {
    if (!deviceCurrent()) {
        job->result = statusFromError(Error::BackendNotAvailable);
        return;
    }
    uint64_t produced = 0;
    Error error = Error::None;
    {
        const DecoderJobScope scope(*job->handle, job->opts);
        releaseImports(*job);
        error = decodeFrames(*job, job->handle->decoder, &produced);
    }
    job->result = error == Error::None ? int32_t(produced) : statusFromError(error);
    releaseImports(*job);
}

}  // namespace kvn
