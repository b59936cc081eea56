#include "pipeline/decode/device_frame_decode.h"

#include <algorithm>

#include "core/dict/dictionary_lookup.h"
#include "core/format/frame_walk.h"
#include "core/interface/backend.h"
#include "core/timing/timing_records.h"
#include "kernels/format_constants.h"
#include "pipeline/decode/byte_plane_inverse.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/device_frame_checks.h"
#include "pipeline/decode/device_walk.h"
#include "pipeline/decode/device_wrt_decode.h"
#include "pipeline/decode/pipeline_run.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/device/gpu_work_lock.h"

namespace kvn {
namespace {

constexpr uint32_t kMinDeviceFrame = 35;  // header, block header, one byte, end mark

Error decodeOnStream(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame,
                     DeviceBufferHandle dst) {
    const FrameHeader& header = shape.header;
    const uint32_t content = uint32_t(header.content_size);
    // A byte-plane frame is decoded plane-major beside the caller's buffer
    // and interleaved into it.
    const uint8_t stride = header.byte_plane_stride;
    DeviceBufferHandle target = dst;
    if (stride >= 2) {
        KVN_TRY(ensureDeviceSlot(decoder, kBytePlaneScratch, content));
        target = slotHandle(decoder, kBytePlaneScratch);
    }
    KVN_TRY(decodeFrameBody(decoder, shape, frame, target));
    if (stride >= 2) {
        KVN_TRY(computeBarrier(decoder.stream));
        KVN_TRY(bytePlaneInverseGpu(decoder, target, dst, content, stride, bytePlaneBlockSize(shape.chunk, stride),
                                    decoder.stream));
    }
    return queueTrailerChecks(decoder, shape, frame, dst);
}

}  // namespace

Error decodeFrameBody(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame,
                      DeviceBufferHandle target) {
    const FrameHeader& header = shape.header;
    const uint32_t content = uint32_t(header.content_size);
    KVN_TRY(useFrameDictionary(decoder, header));
    const uint64_t table_at = shape.frame_len - shape.trailers - KVN_CHUNK_TABLE_ENTRY_BYTES * shape.chunks;
    const WalkParams params{uint32_t(table_at), uint32_t(shape.chunks), header.has_chunk_table};
    const WalkResult walk = walkFrameDevice(decoder, frame, shape.frame_len, content, params);
    KVN_TRY(walk.error);
    KVN_TRY(judgeWalk(decoder, shape.frame_len, content));
    const uint64_t payload_at = header.header_length + kBlockHeaderSize;
    const uint64_t payload_len = shape.frame_len - payload_at;
    KVN_TRY(stagePayload(decoder, frame, payload_at, payload_len));
    // The walk wrote the real chunk count into its count cell; n bounds it.
    std::vector<KvnChunkDesc> descs;
    DecodeBatch batch;
    KVN_TRY(deviceWalkBatch(decoder, header, std::max<uint64_t>(shape.chunks, 1), payload_len, target, content,
                            &descs, &batch));
    KVN_TRY(runDecodePipeline(decoder, batch));
    return restorePrefixes(decoder, shape, target);
}

FrameStream::FrameStream(DecoderState& decoder) : decoder_(decoder), own_(decoder.stream == 0), lock_(own_) {
    if (own_) decoder_.stream = decoder_.own_stream;
}

FrameStream::~FrameStream() {
    if (own_) decoder_.stream = 0;
}

Error ensureOwnStream(DecoderState& decoder) {
    if (decoder.own_stream_created) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamCreate || ops.streamCreate(&decoder.own_stream, 0) != Error::None) return Error::BackendNotAvailable;
    decoder.own_stream_created = true;
    return Error::None;
}

Error useFrameDictionary(DecoderState& decoder, const FrameHeader& header) {
    if (!header.has_dict_id) return Error::None;
    DictionaryBytes dict{nullptr, 0};
    KVN_TRY(findDictionaryById(decoder.dictionaries, header.dict_id, &dict));
    if (uploadDictionary(decoder, header.dict_id, dict.data, dict.length) != Error::None) return Error::BadMode;
    return Error::None;
}

Error judgeWalk(const DecoderState& decoder, uint64_t input_bytes, uint64_t decoded) {
    KVN_TRY(checkSync(gpuOps().streamSynchronize(decoder.stream)));
    const WalkCells walk = readWalkCells(decoder);
    KVN_TRY(walk.error);
    if (walk.cells[kWalkStatus] != KVN_WALK_OK) reportWalkStatus(walk.cells[kWalkStatus], input_bytes, decoded);
    KVN_TRY(walkStatusError(walk.cells[kWalkStatus]));
    // The blocks describe other bytes than the headers announce.
    if (walk.cells[kWalkDecoded] != decoded) return Error::SizeMismatch;
    return Error::None;
}

Error deviceWalkBatch(const DecoderState& decoder, const FrameHeader& first, uint64_t chunk_bound,
                      uint64_t payload_len, DeviceBufferHandle out, uint64_t out_len,
                      std::vector<KvnChunkDesc>* descs, DecodeBatch* batch) {
    const bool streams = first.level_code > 2;
    *batch = DecodeBatch{
        .chunk_count = chunk_bound,
        .payload_len = payload_len,
        .out_len = out_len,
        .dev_out = out,
        .out_on_device = true,
        .dev_payload = slotHandle(decoder, kPayloadSlot),
        .payload_on_device = true,
        .dev_descs = slotHandle(decoder, kWalkDescs),
        .descs_on_device = !streams,
        .dev_chunk_count = slotHandle(decoder, kWalkMeta),
        .chunk_count_on_device = !streams,
        .dict_buf = first.has_dict_id ? decoder.dict_buffer.handle : 0,
        .dict_len = first.has_dict_id ? uint32_t(decoder.dict_buffer_len) : 0,
        .chunks_per_item = 1,
        .subchunk_size = KVN_SUBCHUNK_SIZE,
        .level_code = uint8_t(streams ? first.level_code : 1),
    };
    if (!streams) return Error::None;
    KVN_TRY(readWalkDescs(decoder, descs));
    batch->host_descs = descs->data();
    batch->chunk_count = descs->size();
    return Error::None;
}

FrameResult decodeDeviceFrame(DecoderState& decoder, DeviceBufferHandle frame, uint32_t frame_len,
                              DeviceBufferHandle dst, uint32_t decoded_size) {
    const GpuOpsTable& ops = gpuOps();
    if (frame_len < kMinDeviceFrame || decoded_size == 0 || decoded_size > kMaxDeviceFrameContent || !ops.memcpyDtoH)
        return {0, Error::BadMode};
    FrameShape shape{};
    if (Error e = readShape(frame, 0, frame_len, &shape); e != Error::None) return {0, e};
    const bool wrt = (shape.header.flags & kFrameWrtSection) != 0;
    if (!wrt && shape.header.content_size != decoded_size) return {0, Error::BadMode};
    if (Error e = ensureOwnStream(decoder); e != Error::None) return {0, e};
    if (!ops.streamSynchronize) return {0, Error::BackendNotAvailable};
    const FrameStream stream(decoder);
    // The shape whose trailers the frame's output answers to.
    FrameShape judged = shape;
    Error error = wrt ? decodeWrtOnStream(decoder, shape, frame, dst, decoded_size, &judged)
                      : decodeOnStream(decoder, shape, frame, dst);
    // Nothing queued may outlive the lock or the call's judgement.
    const Error drained = checkSync(ops.streamSynchronize(decoder.stream));
    if (error == Error::None) error = drained;
    resolvePendingTimings(backend().deviceOps(), decoder.pending_timings, decoder.timings);
    if (error == Error::None && wrt) error = reportWrtFrameMerkle(decoder, judged, frame);
    if (error == Error::None) error = judgeFrame(decoder, judged);
    if (error != Error::None) return {0, error};
    return {decoded_size, Error::None};
}

}  // namespace kvn
