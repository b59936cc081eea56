#include "pipeline/decode/device_frame_checks.h"

#include <algorithm>

#include "core/format/byte_order.h"
#include "core/format/frame_walk.h"
#include "core/format/size_math.h"
#include "kernels/format_constants.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/device_content_hash.h"
#include "pipeline/decode/device_merkle.h"
#include "pipeline/decode/host_frame_decode.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/wrt_merkle.h"

namespace kvn {
namespace {

constexpr uint32_t kHeadBytes = 64;
constexpr uint32_t kPrefixGroup = 128;
constexpr uint64_t kPayloadSlack = 16;

// The u32 trailer `back` bytes before the frame's end.
Error readTrailer(const FrameShape& shape, DeviceBufferHandle frame, uint32_t back, uint32_t* value) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    uint8_t stored[4] = {};
    KVN_TRY(checkCopy(ops.memcpyDtoHSrcOffset(stored, frame, 4, shape.frame_off + shape.frame_len - back)));
    *value = loadLe32(stored);
    return Error::None;
}

Error queueMerkle(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame, DeviceBufferHandle out) {
    if (!shape.header.has_merkle_root) return Error::None;
    if (!wholeOutputMerkleRuns(shape.header.content_size, shape.chunk)) return Error::BadMode;
    uint32_t root = 0;
    KVN_TRY(readTrailer(shape, frame, 4, &root));
    int32_t* verdict = resetVerdictCell(decoder);
    if (!verdict) return Error::OutOfMemory;
    KVN_TRY(computeBarrier(decoder.stream));
    return launchWholeOutputMerkle(decoder, decoder.stream, out, shape.out_off, shape.header.content_size,
                                   shape.chunk, root, verdict);
}

}  // namespace

Error restorePrefixes(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle out) {
    if (!shape.prefix_area) return Error::None;
    const std::optional<KernelHandle> prefix = getKernelHandle(&DecodeKernelHandles::sc_prefix_apply_fn);
    // Unrestored chunk starts would reach the caller as a success.
    if (!prefix) return Error::KernelMissing;
    const uint64_t area =
        shape.payload_at + shape.payload_length - KVN_CHUNK_PREFIX_BYTES * (shape.chunks - 1);
    KVN_TRY(computeBarrier(decoder.stream));
    KernelCall call(*prefix, uint32_t((shape.chunks + kPrefixGroup - 1) / kPrefixGroup));
    call.buffer(out, shape.out_off).buffer(slotHandle(decoder, kPayloadSlot));
    call.wide(area).word(uint32_t(shape.chunks)).word(uint32_t(shape.chunk)).wide(shape.header.content_size);
    return call.launch(decoder, decoder.stream, "kvnScPrefixApplyKernel");
}

Error queueTrailerChecks(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame,
                         DeviceBufferHandle out) {
    KVN_TRY(queueMerkle(decoder, shape, frame, out));
    if (!shape.header.has_checksum) return Error::None;
    // The checksum sits before the root when both are there.
    uint32_t checksum = 0;
    KVN_TRY(readTrailer(shape, frame, shape.trailers, &checksum));
    const Error queued =
        queueContentHash(decoder, decoder.stream, out, shape.out_off, shape.header.content_size, checksum);
    // Bytes left unjudged would pass as the caller's: the host road takes the frame.
    return queued == Error::KernelMissing ? Error::BadMode : queued;
}

Error readShape(DeviceBufferHandle frame, uint64_t frame_off, uint32_t frame_len, FrameShape* shape) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    uint8_t head[kHeadBytes] = {};
    const uint32_t got = std::min(frame_len, kHeadBytes);
    if (ops.memcpyDtoHSrcOffset(head, frame, got, frame_off) != Error::None) return Error::CopyFailed;
    const FrameHeader header = parseFrameHeader(head, got);
    if (header.error != Error::None) return Error::BadFrame;
    if (!header.has_content_size) return Error::BadMode;
    const uint64_t at = header.header_length;
    if (frame_len < at + 13) return Error::BadMode;
    // The block header and the first chunk header; past a WRT section they
    // lie beyond the bytes read.
    uint8_t block_head[kBlockHeaderSize + KVN_CHUNK_HDR_BYTES] = {};
    if (at + sizeof block_head <= got) {
        std::copy(head + at, head + at + sizeof block_head, block_head);
    } else if (ops.memcpyDtoHSrcOffset(block_head, frame, sizeof block_head, frame_off + at) != Error::None) {
        return Error::CopyFailed;
    }
    const BlockHeader block = readBlockHeader(block_head);
    *shape = FrameShape{};
    shape->header = header;
    shape->frame_off = frame_off;
    shape->frame_len = frame_len;
    shape->chunk = frameChunkSize(header.sc_group_size);
    if (shape->chunk == 0) return Error::BadFrame;
    shape->chunks = ceilDiv(header.content_size, shape->chunk);
    shape->payload_length = block.payload_length;
    shape->prefix_area =
        !block.stored && (block_head[kBlockHeaderSize] & KVN_CHUNK_HDR0_PREFIX_AREA) != 0 && shape->chunks > 1;
    shape->trailers = 4 * (header.has_checksum ? 1 : 0) + 4 * (header.has_merkle_root ? 1 : 0);
    const uint64_t table = header.has_chunk_table ? KVN_CHUNK_TABLE_ENTRY_BYTES * shape->chunks : 0;
    // One block, its end mark, the table and the trailers make the frame.
    if (uint64_t{frame_len} != at + kBlockHeaderSize + block.payload_length + kEndMarkSize + table + shape->trailers)
        return Error::BadMode;
    if (shape->prefix_area && KVN_CHUNK_PREFIX_BYTES * (shape->chunks - 1) >= block.payload_length)
        return Error::BadFrame;
    return Error::None;
}

Error stagePayload(DecoderState& decoder, DeviceBufferHandle src, uint64_t from, uint64_t len) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoDSrcOffsetAsync) return Error::BackendNotAvailable;
    KVN_TRY(ensureDeviceSlot(decoder, kPayloadSlot, len + kPayloadSlack));
    return checkCopy(ops.memcpyDtoDSrcOffsetAsync(slotHandle(decoder, kPayloadSlot), src, from, len, decoder.stream));
}

Error reportWrtFrameMerkle(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame) {
    if (!wrtMerkleLineWanted() || !shape.header.has_merkle_root || !decoder.verdict_cell ||
        *decoder.verdict_cell == kVerdictNone)
        return Error::None;
    uint32_t root = 0;
    KVN_TRY(readTrailer(shape, frame, 4, &root));
    return reportWrtMerkle(decoder, {shape.chunk, root, true, Error::None}, shape.header.content_size,
                           *decoder.verdict_cell);
}

Error judgeFrame(const DecoderState& decoder, const FrameShape& shape) {
    if (shape.header.has_merkle_root && (!decoder.verdict_cell || *decoder.verdict_cell != kVerdictMatch))
        return Error::ChecksumMismatch;
    return shape.header.has_checksum ? contentHashVerdict(decoder) : Error::None;
}

}  // namespace kvn
