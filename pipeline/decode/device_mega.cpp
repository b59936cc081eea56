#include "pipeline/decode/device_mega.h"

#include "core/format/frame_walk.h"
#include "core/interface/backend.h"
#include "core/timing/timing_records.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/device_frame_decode.h"
#include "pipeline/decode/device_leap_walk.h"
#include "pipeline/decode/device_walk.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/pipeline_run.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// A chunk holds at most two sub-chunks, each numbered in the batch.
constexpr uint64_t kMaxMegaChunks = kMaxHuffmanSubchunks / 2;

// The leap walk where it takes the input, else the serial walk.
Error walkAllFrames(DecoderState& decoder, const DeviceDecompressJob& job, uint64_t total) {
    const std::optional<KernelHandle> walk = getKernelHandle(&DecodeKernelHandles::mega_walk_fn);
    if (!walk) return Error::KernelMissing;
    KVN_TRY(prepareWalkBuffers(decoder));
    const LeapResult leap = leapWalk(decoder, job.dev_src, job.src_len);
    KVN_TRY(leap.error);
    if (leap.walked) return judgeWalk(decoder, job.src_len, total);
    KernelCall call(*walk, 1);
    call.buffer(job.dev_src);
    bindWalkOutputs(decoder, call);
    call.word(job.src_len).word(kWalkDescCapacity);
    KVN_TRY(call.launch(decoder, decoder.stream, "kvnMegaWalkKernel"));
    KVN_TRY(computeBarrier(decoder.stream));
    return judgeWalk(decoder, job.src_len, total);
}

// Queues the frame's checks, waits for them and judges the frame.
Error checkFrame(DecoderState& decoder, const DeviceDecompressJob& job, const FrameShape& frame) {
    KVN_TRY(restorePrefixes(decoder, frame, job.dev_dst));
    KVN_TRY(queueTrailerChecks(decoder, frame, job.dev_src, job.dev_dst));
    KVN_TRY(checkSync(gpuOps().streamSynchronize(decoder.stream)));
    return judgeFrame(decoder, frame);
}

Error decodeAll(DecoderState& decoder, const DeviceDecompressJob& job, std::vector<FrameShape> frames,
                uint64_t total, uint64_t chunks) {
    const FrameHeader& first = frames.front().header;
    KVN_TRY(useFrameDictionary(decoder, first));
    bool decoded = false;
    KVN_TRY(decodeInOneLaunch(job, decoder, total, &decoded));
    if (!decoded) KVN_TRY(walkAllFrames(decoder, job, total));
    // Descriptor offsets count from the first frame's block payload.
    const uint64_t base = frames.front().frame_off + first.header_length + kBlockHeaderSize;
    const uint64_t end = frames.back().frame_off + frames.back().frame_len;
    KVN_TRY(stagePayload(decoder, job.dev_src, base, end - base));
    if (!decoded) {
        std::vector<KvnChunkDesc> descs;
        DecodeBatch batch;
        KVN_TRY(deviceWalkBatch(decoder, first, chunks, end - base, job.dev_dst, total, &descs, &batch));
        KVN_TRY(runDecodePipeline(decoder, batch));
    }
    uint64_t out_off = 0;
    for (FrameShape& frame : frames) {
        frame.out_off = out_off;
        frame.payload_at = frame.frame_off + frame.header.header_length + kBlockHeaderSize - base;
        KVN_TRY(checkFrame(decoder, job, frame));
        out_off += frame.header.content_size;
    }
    return Error::None;
}

}  // namespace

bool megaSuits(const std::vector<FrameShape>& frames) {
    if (frames.size() < 2 || !getKernelHandle(&DecodeKernelHandles::mega_walk_fn)) return false;
    const FrameHeader& first = frames.front().header;
    const uint64_t alignment = deviceBindingAlignment();
    uint64_t out_off = 0;
    uint64_t chunks = 0;
    for (const FrameShape& frame : frames) {
        const FrameHeader& h = frame.header;
        if (h.level_code < 3 || h.byte_plane_stride >= 2 || (h.flags & kFrameWrtSection) != 0 ||
            h.has_dict_id != first.has_dict_id || h.dict_id != first.dict_id || h.content_size == 0)
            return false;
        if (alignment == 0 || out_off % alignment != 0) return false;
        out_off += h.content_size;
        chunks += frame.chunks;
    }
    // The batch's decoded streams go in windows where the device cannot hold
    // them at once; its chunks need no more than the batch's sub-chunk limit.
    return chunks <= kMaxMegaChunks && out_off <= UINT32_MAX;
}

MegaResult decodeMega(const DeviceDecompressJob& job, DecoderState& decoder, const std::vector<FrameShape>& frames) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.launchKernel || !ops.memsetD8 || !ops.memcpyDtoHSrcOffset || !ops.streamSynchronize)
        return {0, Error::BackendNotAvailable, true};
    if (Error e = ensureOwnStream(decoder); e != Error::None) return {0, e, true};
    uint64_t total = 0;
    uint64_t chunks = 0;
    for (const FrameShape& frame : frames) {
        total += frame.header.content_size;
        chunks += frame.chunks;
    }
    Error error = Error::None;
    {
        const FrameStream stream(decoder);
        error = decodeAll(decoder, job, frames, total, chunks);
        const Error drained = checkSync(ops.streamSynchronize(decoder.stream));
        if (error == Error::None) error = drained;
    }
    resolvePendingTimings(backend().deviceOps(), decoder.pending_timings, decoder.timings);
    // A walk that does not take the input (a shape it refuses, or more steps
    // than one invocation may loop) leaves it to the frame loop.
    if (error == Error::BadMode) return {0, Error::None, false};
    return {error == Error::None ? total : 0, error, true};
}

}  // namespace kvn
