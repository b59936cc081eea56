#include "pipeline/decode/device_frame_decode.h"

#include <algorithm>
#include <cstring>

#include "core/dict/dictionary_lookup.h"
#include "core/format/byte_order.h"
#include "core/format/frame_walk.h"
#include "core/format/size_math.h"
#include "core/integrity/xxh32.h"
#include "core/interface/backend.h"
#include "core/platform/platform.h"
#include "core/timing/timing_records.h"
#include "kernels/format_constants.h"
#include "pipeline/decode/byte_plane_inverse.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/device_merkle.h"
#include "pipeline/decode/device_walk.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/pipeline_run.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/device/gpu_work_lock.h"

namespace kvn {
namespace {

constexpr uint32_t kHeadBytes = 64;
constexpr uint32_t kMinDeviceFrame = 35;  // header, block header, one byte, end mark
constexpr uint32_t kPrefixGroup = 128;
constexpr uint64_t kPayloadSlack = 16;
// The device leaf array and the verdict's passes grow with the leaf count.
constexpr uint64_t kMaxDeviceLeaves = uint64_t{1} << 24;

// What the host learns of the frame from its first bytes.
struct FrameShape {
    FrameHeader header;
    uint64_t chunk;             // chunk size
    uint64_t chunks;            // n
    uint32_t payload_length;    // the first block's
    bool stored_block;
    bool prefix_area;           // chunk 0 asks for the chunk-prefix area and n > 1
    uint32_t trailers;          // checksum and Merkle root bytes
};

Error readShape(DeviceBufferHandle frame, uint32_t frame_len, uint32_t content_size, FrameShape* shape) {
    const GpuOpsTable& ops = gpuOps();
    uint8_t head[kHeadBytes] = {};
    const uint32_t got = std::min(frame_len, kHeadBytes);
    if (ops.memcpyDtoH(head, frame, got) != Error::None) return Error::BadMode;
    const FrameHeader header = parseFrameHeader(head, got);
    if (header.error != Error::None) return Error::BadMode;
    // The section would have to travel to the host for the inverse.
    if (header.flags & kFrameWrtSection) return Error::BadMode;
    if (!header.has_content_size || header.content_size != content_size) return Error::BadMode;
    const uint64_t at = header.header_length;
    if (frame_len < at + 13 || at + kBlockHeaderSize + KVN_CHUNK_HDR_BYTES > got) return Error::BadMode;
    const BlockHeader block = readBlockHeader(head + at);
    shape->header = header;
    shape->chunk = frameChunkSize(header.sc_group_size);
    if (shape->chunk == 0) return Error::BadMode;
    shape->chunks = ceilDiv(content_size, shape->chunk);
    shape->payload_length = block.payload_length;
    shape->stored_block = block.stored;
    shape->prefix_area = !block.stored && (head[at + kBlockHeaderSize] & KVN_CHUNK_HDR0_PREFIX_AREA) != 0 &&
                         shape->chunks > 1;
    shape->trailers = 4 * (header.has_checksum ? 1 : 0) + 4 * (header.has_merkle_root ? 1 : 0);
    const uint64_t table = header.has_chunk_table ? KVN_CHUNK_TABLE_ENTRY_BYTES * shape->chunks : 0;
    if (frame_len < table + shape->trailers) return Error::BadMode;
    if (shape->prefix_area && KVN_CHUNK_PREFIX_BYTES * (shape->chunks - 1) >= block.payload_length)
        return Error::BadFrame;
    return Error::None;
}

// The decode kernels read descriptor offsets from the start of the buffer
// they are given, and a binding cannot start at the payload's unaligned
// offset: the payload moves, device to device, to the start of the payload
// slot (with the kernels' read slack after it).
Error stagePayload(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame, uint32_t frame_len,
                   uint64_t* payload_len) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoDSrcOffsetAsync) return Error::BackendNotAvailable;
    const uint64_t at = shape.header.header_length + kBlockHeaderSize;
    *payload_len = frame_len - at;
    KVN_TRY(ensureDeviceSlot(decoder, kPayloadSlot, *payload_len + kPayloadSlack));
    return checkCopy(ops.memcpyDtoDSrcOffsetAsync(slotHandle(decoder, kPayloadSlot), frame, at, *payload_len,
                                                  decoder.stream));
}

// Restores each later chunk's first bytes from the chunk-prefix area.
Error restorePrefixes(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle out) {
    if (!shape.prefix_area) return Error::None;
    const std::optional<KernelHandle> prefix = getKernelHandle(&DecodeKernelHandles::sc_prefix_apply_fn);
    // Unrestored chunk starts would reach the caller as a success.
    if (!prefix) return Error::KernelMissing;
    const uint64_t area = shape.payload_length - KVN_CHUNK_PREFIX_BYTES * (shape.chunks - 1);
    KVN_TRY(computeBarrier(decoder.stream));
    KernelCall call(*prefix, uint32_t((shape.chunks + kPrefixGroup - 1) / kPrefixGroup));
    call.buffer(out).buffer(slotHandle(decoder, kPayloadSlot));
    call.wide(area).word(uint32_t(shape.chunks)).word(uint32_t(shape.chunk)).wide(shape.header.content_size);
    return call.launch(decoder, decoder.stream, "kvnScPrefixApplyKernel");
}

// Hashes the element-major output into leaves and judges them against the
// stored root; the verdict reaches the decoder's cell with the stream.
Error judgeMerkle(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame, uint32_t frame_len,
                  DeviceBufferHandle out) {
    if (!shape.header.has_merkle_root) return Error::None;
    if (!getKernelHandle(&DecodeKernelHandles::seg_hash_fn) || !getKernelHandle(&DecodeKernelHandles::chunk_combine_fn) ||
        !getKernelHandle(&DecodeKernelHandles::merkle_verdict_fn) || shape.chunks > kMaxDeviceLeaves)
        return Error::BadMode;
    uint8_t stored[4] = {};
    if (!gpuOps().memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    KVN_TRY(checkCopy(gpuOps().memcpyDtoHSrcOffset(stored, frame, 4, frame_len - 4)));
    int32_t* verdict = resetVerdictCell(decoder);
    if (!verdict) return Error::OutOfMemory;
    DecodeBatch judged{.out_len = shape.header.content_size,
                       .verdict_dst = verdict,
                       .merkle_leaves = uint32_t(shape.chunks),
                       .leaf_total = uint32_t(shape.chunks),
                       .merkle_chunk_size = uint32_t(shape.chunk),
                       .expected_root = loadLe32(stored),
                       .last_batch = true};
    KVN_TRY(computeBarrier(decoder.stream));
    return launchDeviceMerkle(decoder, judged, BatchBuffers{}, decoder.stream, out, false);
}

// The content checksum over the decoded bytes, after the stream drained.
// No kernel hashes a whole frame: the decoded bytes (never the payload) come
// back to the host for it.
Error checkChecksum(const FrameShape& shape, DeviceBufferHandle frame, uint32_t frame_len, DeviceBufferHandle out) {
    if (!shape.header.has_checksum) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    uint8_t stored[4] = {};
    const uint64_t at = frame_len - shape.trailers;
    KVN_TRY(checkCopy(ops.memcpyDtoHSrcOffset(stored, frame, 4, at)));
    const uint64_t n = shape.header.content_size;
    uint8_t* bytes = static_cast<uint8_t*>(allocPages(n));
    if (!bytes) return Error::OutOfMemory;
    Error error = checkCopy(ops.memcpyDtoH(bytes, out, n));
    if (error == Error::None && xxh32(bytes, n) != loadLe32(stored)) error = Error::ChecksumMismatch;
    freePages(bytes, n);
    return error;
}

// The walk's verdict on the frame, after the stream drained.
Error judgeWalk(const DecoderState& decoder, uint32_t content_size) {
    KVN_TRY(checkSync(gpuOps().streamSynchronize(decoder.stream)));
    const WalkCells walk = readWalkCells(decoder);
    KVN_TRY(walk.error);
    KVN_TRY(walkStatusError(walk.cells[kWalkStatus]));
    // The blocks describe other bytes than the header announces.
    if (walk.cells[kWalkDecoded] != content_size) return Error::SizeMismatch;
    return Error::None;
}

Error decodeOnStream(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame, uint32_t frame_len,
                     DeviceBufferHandle dst) {
    const FrameHeader& header = shape.header;
    const uint32_t content = uint32_t(header.content_size);
    DictionaryBytes dict{nullptr, 0};
    if (header.has_dict_id) {
        KVN_TRY(findDictionaryById(decoder.dictionaries, header.dict_id, &dict));
        if (uploadDictionary(decoder, header.dict_id, dict.data, dict.length) != Error::None) return Error::BadMode;
    }
    const uint64_t table_at = frame_len - shape.trailers - KVN_CHUNK_TABLE_ENTRY_BYTES * shape.chunks;
    const WalkParams params{uint32_t(table_at), uint32_t(shape.chunks), header.has_chunk_table};
    const WalkResult walk = walkFrameDevice(decoder, frame, frame_len, content, params);
    KVN_TRY(walk.error);
    KVN_TRY(judgeWalk(decoder, content));

    // A byte-plane frame is decoded plane-major beside the caller's buffer
    // and interleaved into it.
    const uint8_t stride = header.byte_plane_stride;
    DeviceBufferHandle target = dst;
    if (stride >= 2) {
        KVN_TRY(ensureDeviceSlot(decoder, kBytePlaneScratch, content));
        target = slotHandle(decoder, kBytePlaneScratch);
    }
    uint64_t payload_len = 0;
    KVN_TRY(stagePayload(decoder, shape, frame, frame_len, &payload_len));
    // The walk wrote the real chunk count into its count cell; n bounds it.
    const DecodeBatch batch{
        .chunk_count = std::max<uint64_t>(shape.chunks, 1),
        .payload_len = payload_len,
        .out_len = content,
        .dev_out = target,
        .out_on_device = true,
        .dev_payload = slotHandle(decoder, kPayloadSlot),
        .payload_on_device = true,
        .dev_descs = walk.descs,
        .descs_on_device = true,
        .dev_chunk_count = walk.meta,
        .chunk_count_on_device = true,
        .dict_buf = header.has_dict_id ? decoder.dict_buffer.handle : 0,
        .dict_len = header.has_dict_id ? uint32_t(decoder.dict_buffer_len) : 0,
        .chunks_per_item = 1,
        .subchunk_size = KVN_SUBCHUNK_SIZE,
        .level_code = uint8_t(header.level_code > 2 ? header.level_code : 1),
    };
    KVN_TRY(runDecodePipeline(decoder, batch));
    KVN_TRY(restorePrefixes(decoder, shape, target));
    if (stride >= 2) {
        KVN_TRY(computeBarrier(decoder.stream));
        KVN_TRY(bytePlaneInverseGpu(decoder, target, dst, content, stride, bytePlaneBlockSize(shape.chunk, stride),
                                    decoder.stream));
    }
    return judgeMerkle(decoder, shape, frame, frame_len, dst);
}

// Takes the decoder's own stream under the GPU work lock when the call
// brought none, and gives both back on every exit.
class FrameStream {
public:
    explicit FrameStream(DecoderState& decoder) : decoder_(decoder), own_(decoder.stream == 0), lock_(own_) {
        if (own_) decoder_.stream = decoder_.own_stream;
    }
    ~FrameStream() {
        if (own_) decoder_.stream = 0;
    }
    bool own() const { return own_; }

private:
    DecoderState& decoder_;
    bool own_;
    OwnStreamWorkLock lock_;
};

Error ensureOwnStream(DecoderState& decoder) {
    if (decoder.own_stream_created) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamCreate || ops.streamCreate(&decoder.own_stream, 0) != Error::None) return Error::BackendNotAvailable;
    decoder.own_stream_created = true;
    return Error::None;
}

}  // namespace

FrameResult decodeDeviceFrame(DecoderState& decoder, DeviceBufferHandle frame, uint32_t frame_len,
                              DeviceBufferHandle dst, uint32_t content_size) {
    const GpuOpsTable& ops = gpuOps();
    if (frame_len < kMinDeviceFrame || content_size == 0 || content_size > kMaxDeviceFrameContent || !ops.memcpyDtoH)
        return {0, Error::BadMode};
    FrameShape shape{};
    if (Error e = readShape(frame, frame_len, content_size, &shape); e != Error::None) return {0, e};
    if (Error e = ensureOwnStream(decoder); e != Error::None) return {0, e};
    if (!ops.streamSynchronize) return {0, Error::BackendNotAvailable};
    const FrameStream stream(decoder);
    Error error = decodeOnStream(decoder, shape, frame, frame_len, dst);
    // Nothing queued may outlive the lock or the call's judgement.
    const Error drained = checkSync(ops.streamSynchronize(decoder.stream));
    if (error == Error::None) error = drained;
    resolvePendingTimings(backend().deviceOps(), decoder.pending_timings, decoder.timings);
    if (error != Error::None) return {0, error};
    if (shape.header.has_merkle_root && decoder.verdict_cell && *decoder.verdict_cell != kVerdictMatch)
        return {0, Error::ChecksumMismatch};
    if (Error e = checkChecksum(shape, frame, frame_len, dst); e != Error::None) return {0, e};
    return {content_size, Error::None};
}

}  // namespace kvn
