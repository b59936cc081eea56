#include "pipeline/decode/device_decode.h"

#include <algorithm>
#include <vector>

#include "core/format/byte_order.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "core/format/size_math.h"
#include "core/handle/handle.h"
#include "pipeline/decode/decoder_job.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/device_blocks.h"
#include "pipeline/decode/device_frame_checks.h"
#include "pipeline/decode/device_frame_decode.h"
#include "pipeline/decode/device_mega.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint64_t kHeadBytes = 64;
// A job result is a signed 32-bit count: larger totals cannot be reported.
constexpr uint64_t kMaxDecodedTotal = (uint64_t{1} << 31) - 1;

// One frame of the input as the host sees it from its first bytes.
struct DeviceFrame {
    FrameHeader header;
    uint64_t offset;
    uint64_t length;  // L: header, the block, end mark, chunk-size table, trailers
    uint64_t decoded;  // the bytes it decodes to: a WRT frame's text, else its content
    bool one_block;    // the device walks take it as it is
    bool ends_input;   // bytes after a frame that do not start one
};

// The listed frame, its bytes at the start of `frame`, into the start of `dst`.
FrameResult decodeListedFrame(DecoderState& decoder, const DeviceFrame& listed, DeviceBufferHandle frame,
                              DeviceBufferHandle dst) {
    const uint32_t len = uint32_t(listed.length);
    const uint32_t decoded = uint32_t(listed.decoded);
    return listed.one_block ? decodeDeviceFrame(decoder, frame, len, dst, decoded)
                            : decodeDeviceBlocks(decoder, frame, len, dst, decoded);
}

Error readAt(DeviceBufferHandle src, uint64_t at, void* out, uint64_t bytes) {
    return gpuOps().memcpyDtoHSrcOffset(out, src, bytes, at) == Error::None ? Error::None : Error::CopyFailed;
}

// The frame at offset b of src_len input bytes, its blocks walked header by
// header.
Error readFrame(DeviceBufferHandle src, uint64_t src_len, uint64_t b, DeviceFrame* frame) {
    const uint64_t remaining = src_len - b;
    uint8_t head[kHeadBytes] = {};
    const uint64_t got = std::min(remaining, kHeadBytes);
    if (remaining >= kFrameFixedHeaderSize) KVN_TRY(readAt(src, b, head, got));
    if (remaining < kFrameFixedHeaderSize || loadLe32(head) != kFrameMagic) {
        if (b == 0) return Error::BadFrame;
        frame->ends_input = true;
        return Error::None;
    }
    const FrameHeader header = parseFrameHeader(head, got);
    if (header.error != Error::None) return Error::BadFrame;
    if (!header.has_content_size) return Error::BadMode;
    const uint64_t at = header.header_length;
    if (at + kEndMarkSize > remaining) return Error::BadFrame;
    std::vector<DeviceBlock> blocks;
    uint64_t body_end = 0;
    KVN_TRY(listDeviceBlocks(src, b, remaining, header, &blocks, &body_end));
    // No block: a frame of no content.
    if (blocks.empty() && header.content_size != 0) return Error::BadFrame;
    const uint64_t chunk = frameChunkSize(header.sc_group_size);
    const uint64_t table = header.has_chunk_table ? 3 * ceilDiv(header.content_size, chunk) : 0;
    const uint64_t trailers = 4 * uint64_t(header.has_checksum) + 4 * uint64_t(header.has_merkle_root);
    const uint64_t length = body_end + table + trailers;
    if (length > remaining) return Error::BadFrame;
    frame->header = header;
    frame->offset = b;
    frame->length = length;
    frame->one_block = oneWalkedBlock(blocks);
    frame->decoded = header.content_size;
    if (header.flags & kFrameWrtSection) {
        // The text's length opens the section.
        uint8_t decoded[8] = {};
        if (header.wrt_section_offset + sizeof decoded > length) return Error::BadFrame;
        KVN_TRY(readAt(src, b + header.wrt_section_offset, decoded, sizeof decoded));
        frame->decoded = loadLe64(decoded);
    }
    return Error::None;
}

// A frame after the first: copied to offset 0 of the frame-in slot, decoded
// into the frame-out slot and copied on to its place in the destination.
FrameResult decodeLaterFrame(const DeviceDecompressJob& job, DecoderState& decoder, const DeviceFrame& frame,
                             uint64_t produced) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoDSrcOffsetAsync || !ops.memcpyDtoDDstOffsetAsync) return {0, Error::BackendNotAvailable};
    const uint64_t content = frame.decoded;
    if (Error e = ensureDeviceSlot(decoder, kFrameIn, frame.length); e != Error::None) return {0, e};
    if (Error e = ensureDeviceSlot(decoder, kFrameOut, content); e != Error::None) return {0, e};
    if (ops.memcpyDtoDSrcOffsetAsync(slotHandle(decoder, kFrameIn), job.dev_src, frame.offset, frame.length,
                                     decoder.stream) != Error::None)
        return {0, Error::CopyFailed};
    // The frame decode reads the header from the copy outside the stream.
    if (decoder.stream != 0 && checkSync(ops.streamSynchronize(decoder.stream)) != Error::None)
        return {0, Error::SyncFailed};
    const FrameResult decoded =
        decodeListedFrame(decoder, frame, slotHandle(decoder, kFrameIn), slotHandle(decoder, kFrameOut));
    if (decoded.error != Error::None) return decoded;
    if (ops.memcpyDtoDDstOffsetAsync(job.dev_dst, slotHandle(decoder, kFrameOut), produced, decoded.bytes,
                                     decoder.stream) != Error::None)
        return {0, Error::CopyFailed};
    return decoded;
}

// Every frame of the input, checked against the capacity before any is
// decoded.
Error listFrames(const DeviceDecompressJob& job, std::vector<DeviceFrame>* frames) {
    if (!gpuOps().memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    uint64_t b = 0;
    uint64_t total = 0;
    while (b < job.src_len) {
        DeviceFrame frame{};
        KVN_TRY(readFrame(job.dev_src, job.src_len, b, &frame));
        if (frame.ends_input) break;
        const uint64_t content = frame.decoded;
        if (content > kMaxDeviceFrameContent || frame.header.content_size > kMaxDeviceFrameContent)
            return Error::BadMode;
        // 64-bit sums: no capacity or total wraps.
        total += content;
        if (total > job.dst_cap) return Error::BadFrame;
        if (total > kMaxDecodedTotal) return Error::BadMode;
        frames->push_back(frame);
        b += frame.length;
    }
    return Error::None;
}

Error decodeFrameLoop(const DeviceDecompressJob& job, DecoderState& decoder, const std::vector<DeviceFrame>& frames,
                      uint64_t* produced_out) {
    uint64_t produced = 0;
    for (const DeviceFrame& frame : frames) {
        const uint64_t content = frame.decoded;
        // A WRT frame's transformed bytes never stand for an empty text.
        if (content == 0 && frame.header.content_size > 0) return Error::BadFrame;
        if (content > 0) {
            const FrameResult decoded =
                frame.offset == 0 ? decodeListedFrame(decoder, frame, job.dev_src, job.dev_dst)
                                  : decodeLaterFrame(job, decoder, frame, produced);
            KVN_TRY(decoded.error);
        }
        produced += content;
    }
    *produced_out = produced;
    return Error::None;
}

// The frames' shapes when the whole-input road suits them.
bool megaShapes(const DeviceDecompressJob& job, const std::vector<DeviceFrame>& frames,
                std::vector<FrameShape>* shapes) {
    if (frames.size() < 2 || frames.front().header.level_code < 3) return false;
    for (const DeviceFrame& frame : frames) {
        FrameShape shape{};
        if (readShape(job.dev_src, frame.offset, uint32_t(frame.length), &shape) != Error::None) return false;
        shapes->push_back(shape);
    }
    return megaSuits(*shapes);
}

Error decodeInput(const DeviceDecompressJob& job, DecoderState& decoder, uint64_t* produced) {
    std::vector<DeviceFrame> frames;
    KVN_TRY(listFrames(job, &frames));
    std::vector<FrameShape> shapes;
    if (megaShapes(job, frames, &shapes)) {
        const MegaResult mega = decodeMega(job, decoder, shapes);
        if (mega.taken) {
            *produced = mega.bytes;
            return mega.error;
        }
    }
    return decodeFrameLoop(job, decoder, frames, produced);
}

}  // namespace

void decodeDeviceFrames(DeviceDecompressJob* job) {
    if (!deviceCurrent()) {
        job->result = statusFromError(Error::BackendNotAvailable);
        return;
    }
    const GpuOpsTable& ops = gpuOps();
    DecoderState& decoder = job->handle->decoder;
    uint64_t produced = 0;
    Error error = Error::None;
    {
        const DecoderJobScope scope(*job->handle, job->opts);
        decoder.stream = job->stream;
        // The host reads the frames' first bytes outside the stream: what the
        // caller queued before the call (the upload of the input) must be done.
        if (job->stream != 0 && ops.streamSynchronize) error = checkSync(ops.streamSynchronize(job->stream));
        if (error == Error::None) error = decodeInput(*job, decoder, &produced);
        decoder.stream = 0;
    }
    job->result = error == Error::None ? int32_t(produced) : deviceStatusFromError(error, &job->fallback);
}

}  // namespace kvn
