// The assembly stage of a frame body: every sub-chunk measured, then written
// at its packed offset; the host chooses each chunk's record form, and the
// frame assembly kernel lays out the block in the frame buffer, which is
// copied to the caller's device destination, or else back to the host one.
#include <cstring>
#include <new>

#include "core/encode/body_layout.h"
#include "core/encode/frame_geometry.h"
#include "core/encode/frame_limits.h"
#include "core/integrity/merkle.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/device_merkle.h"
#include "pipeline/encode/body_encode.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/encode_launch.h"
#include "pipeline/encode/encode_stream.h"
#include "pipeline/encode/encoder_buffers.h"
#include "pipeline/encode/frame_destination.h"

namespace kvn {
namespace {

// Shared with the assembly kernels: 13 u32 per sub-chunk. The Huffman words
// stay 0 (not coded) where the Huffman stage coded nothing.
struct AssembleRecord {
    uint32_t lz_offset;
    uint32_t lz_size;
    uint32_t coded[8];  // offset and size of the literal, token, off16-high and off16-low streams
    uint32_t raw_length;
    uint32_t prefix_length;
    uint32_t assembled_offset;
};
static_assert(sizeof(AssembleRecord) == kAssembleRecordBytes);

// Queued in the stretch: the buffer is grown first, so queue each upload
// before any launch of the stretch that reads the buffer.
Error upload(EncodeStretch& stretch, EncoderBuffer which, EncoderState& encoder, const void* data, uint64_t bytes) {
    DeviceBuffer& buffer = encoderBuffer(encoder, which);
    KVN_TRY(ensureEncodeDeviceBuffer(buffer, bytes));
    return stretch.upload(buffer.handle, data, bytes);
}

// What the frame assembly kernel reads besides the sub-chunks: the chunk
// tables of the layout and the head bytes.
Error uploadFrameTables(EncodeStretch& stretch, EncoderState& encoder, const BodyLayout& layout,
                        const std::vector<uint8_t>& head, uint64_t n) {
    KVN_TRY(upload(stretch, kChunkBodyOffsets, encoder, layout.body_offsets.data(), 4 * n));
    KVN_TRY(upload(stretch, kChunkPayloadLengths, encoder, layout.payload_lengths.data(), 4 * n));
    KVN_TRY(upload(stretch, kChunkRecordOffsets, encoder, layout.record_offsets.data(), 4 * n));
    return upload(stretch, kHeadBytes, encoder, head.data(), head.size());
}

uint32_t u32(uint64_t v) { return static_cast<uint32_t>(v); }

void writeChunkTable(uint8_t* table, const BodyLayout& layout, uint64_t chunks) {
    for (uint64_t c = 0; c < chunks; ++c) {
        const uint32_t entry = chunkRecordLength(layout, c);
        table[3 * c] = static_cast<uint8_t>(entry);
        table[3 * c + 1] = static_cast<uint8_t>(entry >> 8);
        table[3 * c + 2] = static_cast<uint8_t>(entry >> 16);
    }
}

// The chunk-size table (table_bytes at `table`, possibly none) and then the
// Merkle root go into the device frame after its first frame_len bytes, so
// that the frame leaves the device whole. False when either could not be
// written there: the trailer step then appends the root.
bool appendTableAndRoot(EncoderState& encoder, DeviceBufferHandle frame, const uint8_t* table, uint64_t table_bytes,
                        uint64_t frame_len) {
    const GpuOpsTable& ops = gpuOps();
    if (table_bytes != 0) {
        DeviceBuffer& upload = encoderBuffer(encoder, kChunkTableUpload);
        if (!ops.memcpyDtoDDstOffsetAsync || ensureEncodeDeviceBuffer(upload, table_bytes) != Error::None ||
            ops.memcpyHtoD(upload.handle, table, table_bytes) != Error::None ||
            ops.memcpyDtoDDstOffsetAsync(frame, upload.handle, frame_len, table_bytes, 0) != Error::None)
            return false;
    }
    return writeMerkleRootOnDevice(encoder, frame, frame_len + table_bytes);
}

// The coded-stream words of sub-chunk i of aw: literal, token, off16 high
// and low halves (the off16 jobs hold every high half, then every low half).
void takeCodedStreams(const HuffmanResults& huffman, uint64_t i, uint64_t aw, uint32_t* coded) {
    const uint64_t jobs[4] = {i, i, i, aw + i};
    const HuffStreamKind kinds[4] = {kHuffLiteralStreams, kHuffTokenStreams, kHuffOff16Streams, kHuffOff16Streams};
    for (int s = 0; s < 4; ++s) {
        const std::vector<uint32_t>& sizes = huffman.sizes[kinds[s]];
        if (jobs[s] >= sizes.size()) continue;
        coded[2 * s] = huffman.offsets[kinds[s]][jobs[s]];
        coded[2 * s + 1] = sizes[jobs[s]];
    }
}

Error assembleInto(const BodyRequest& request, EncoderState& encoder, const LzStage& stage,
                   const HuffmanResults& huffman, uint64_t* written) {
    const GpuOpsTable& ops = gpuOps();
    const std::optional<KernelHandle> measure = getEncodePipeline(&EncodeKernelHandles::assemble_measure_fn);
    const std::optional<KernelHandle> write = getEncodePipeline(&EncodeKernelHandles::assemble_write_fn);
    const std::optional<KernelHandle> frame_kernel = getEncodePipeline(&EncodeKernelHandles::frame_assemble_fn);
    if (!measure || !write || !frame_kernel) return Error::KernelMissing;
    const FrameGeometry& g = stage.geometry;
    const uint64_t aw = stage.descs.size();
    const uint64_t n = g.chunks;

    std::vector<AssembleRecord> records;
    std::vector<uint32_t> measured, sub_offsets;
    BodyLayout layout;
    try {
        records.resize(aw);
        measured.resize(aw);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    for (uint64_t i = 0; i < aw; ++i) {
        const CompressChunkDesc& d = stage.descs[i];
        records[i] = {d.out_offset, stage.lz_sizes[i], {}, d.length, d.first ? kFramePrefixBytes : 0, 0};
        takeCodedStreams(huffman, i, aw, records[i].coded);
    }

    const DeviceBufferHandle lz_output = encoderBuffer(encoder, kLzOutput).handle;
    // A kind that was not coded binds the LZ output in its place (not read).
    const EncoderBuffer coded_buffers[kHuffStreamKinds] = {kHuffLiterals, kHuffTokens, kHuffOff16};
    DeviceBufferHandle coded[kHuffStreamKinds];
    for (uint32_t k = 0; k < kHuffStreamKinds; ++k)
        coded[k] = huffman.sizes[k].empty() ? lz_output : encoderBuffer(encoder, coded_buffers[k]).handle;
    DeviceBuffer& record_buffer = encoderBuffer(encoder, kAssembleRecords);
    DeviceBuffer& measured_buffer = encoderBuffer(encoder, kMeasuredSizes);
    KVN_TRY(ensureEncodeStream(encoder));
    EncodeStretch stretch(encoder);
    KVN_TRY(upload(stretch, kAssembleRecords, encoder, records.data(), aw * sizeof(AssembleRecord)));
    KVN_TRY(ensureEncodeDeviceBuffer(measured_buffer, 4 * aw));
    KVN_TRY(launchEncodeKernelOn(stretch.stream(), &encoder, "kvnAssembleMeasureKernel", *measure, kAssembleShape,
                                 u32(aw),
                                 {lz_output, coded[0], coded[1], coded[2], record_buffer.handle,
                                  measured_buffer.handle},
                                 {u32(aw)}, {measured_buffer.handle}));
    KVN_TRY(stretch.read(measured.data(), measured_buffer.handle, 4 * aw));
    KVN_TRY(stretch.wait());

    uint64_t assembled_bytes = 0;
    KVN_TRY(placeSubChunks(measured, sub_offsets, &assembled_bytes));
    for (uint64_t i = 0; i < aw; ++i) records[i].assembled_offset = sub_offsets[i];
    KVN_TRY(layoutBody(stage.descs, stage.lz_sizes, measured, sub_offsets, g.chunk, request.len, request.header_len,
                       &layout));
    // The frame's size is known before any kernel writes it: check it
    // against the destination, and size the frame buffer to it rather than
    // to the compress bound, which small chunks over data that does not
    // shrink can exceed.
    const uint64_t frame_len = layout.frame_len;
    const uint64_t table_bytes = request.chunk_table ? 3 * n : 0;
    if (frame_len + table_bytes > request.dst_cap) return Error::DestinationTooSmall;
    // The root follows the table in the device frame where this library
    // writes it there, the body's leaves are the frame's and it fits; else
    // the trailer step appends it.
    const uint64_t with_root = frame_len + table_bytes + kMerkleRootBytes;
    const bool root_planned =
        merkleRootWrittenOnDevice() && encoder.merkle_leaves_valid && with_root <= request.dst_cap;

    // The head bytes: the header already at dst, then the block header.
    std::vector<uint8_t> head;
    try {
        head.assign(request.dst, request.dst + request.header_len);
        head.resize(request.header_len + kBlockHeaderBytes);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    storeLe32(head.data() + request.header_len, u32(layout.block_payload));
    storeLe32(head.data() + request.header_len + 4, u32(request.len));

    // Every upload of the second stretch goes before its two launches.
    DeviceBuffer& assembled = encoderBuffer(encoder, kAssembledOutput);
    DeviceBuffer& frame = encoderBuffer(encoder, kOutputBuffer);
    KVN_TRY(upload(stretch, kAssembleRecords, encoder, records.data(), aw * sizeof(AssembleRecord)));
    KVN_TRY(uploadFrameTables(stretch, encoder, layout, head, n));
    KVN_TRY(ensureEncodeDeviceBuffer(assembled, assembled_bytes));
    KVN_TRY(ensureEncodeDeviceBuffer(frame, root_planned ? with_root : frame_len));
    KVN_TRY(launchEncodeKernelOn(stretch.stream(), &encoder, "kvnAssembleWriteKernel", *write, kAssembleShape,
                                 u32(aw),
                                 {lz_output, coded[0], coded[1], coded[2], record_buffer.handle, assembled.handle},
                                 {u32(aw)}));
    KVN_TRY(launchEncodeKernelOn(stretch.stream(), &encoder, "kvnFrameAssembleKernel", *frame_kernel,
                                 kFrameAssembleShape, u32(n + 1),
                                 {encoderBuffer(encoder, kInputCopy).handle, assembled.handle,
                                  encoderBuffer(encoder, kChunkBodyOffsets).handle,
                                  encoderBuffer(encoder, kChunkPayloadLengths).handle,
                                  encoderBuffer(encoder, kChunkRecordOffsets).handle,
                                  encoderBuffer(encoder, kHeadBytes).handle, frame.handle},
                                 {u32(head.size()), kChunkHeaderByte0, kChunkHeaderByte1, u32(n), u32(g.chunk),
                                  u32(request.len), u32(layout.records_end), u32(layout.end_mark)}));
    // A frame with nothing to add on the device comes back in the same stretch.
    const bool read_in_stretch = !root_planned && !destinationOnDevice(encoder);
    if (read_in_stretch) KVN_TRY(stretch.read(request.dst, frame.handle, frame_len));
    KVN_TRY(stretch.wait());

    uint8_t* table = request.dst + frame_len;
    writeChunkTable(table, layout, table_bytes / 3);
    encoder.merkle_root_appended =
        root_planned && appendTableAndRoot(encoder, frame.handle, table, table_bytes, frame_len);
    const uint64_t device_bytes = encoder.merkle_root_appended ? with_root : frame_len;
    if (destinationOnDevice(encoder)) {
        KVN_TRY(placeAssembledFrame(encoder, frame.handle, device_bytes));
        // The host frame is complete too: the trailer step reads the root there.
        if (encoder.merkle_root_appended)
            KVN_TRY(ops.memcpyDtoHSrcOffset(table + table_bytes, frame.handle, kMerkleRootBytes, frame_len + table_bytes));
    } else if (!read_in_stretch) {
        KVN_TRY(ops.memcpyDtoH(request.dst, frame.handle, device_bytes));
    }
    *written = encoder.merkle_root_appended ? with_root : frame_len + table_bytes;
    return Error::None;
}

}  // namespace

WrittenBytes assembleBody(const BodyRequest& request, EncoderState& encoder, const LzStage& stage,
                          const HuffmanResults& huffman) {
    uint64_t written = 0;
    const Error error = assembleInto(request, encoder, stage, huffman, &written);
    return {error == Error::None ? written : 0, error};
}

}  // namespace kvn
