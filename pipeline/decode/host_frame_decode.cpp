#include "pipeline/decode/host_frame_decode.h"

#include <cstring>
#include <span>

#include "core/dict/dictionary_lookup.h"
#include "core/format/byte_order.h"
#include "core/format/chunk_walk.h"
#include "core/format/frame_walk.h"
#include "core/format/size_math.h"
#include "core/integrity/merkle.h"
#include "core/integrity/trailers.h"
#include "core/interface/backend.h"
#include "core/platform/platform.h"
#include "core/timing/timing_records.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_dumps.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/pipeline_run.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint32_t kSubchunkSize = KVN_SUBCHUNK_SIZE;
// Beyond this many leaves the CPU checks the root: the device leaf array and
// the verdict's passes grow with the count.
constexpr uint64_t kMaxDeviceLeaves = uint64_t{1} << 24;

struct DeviceMerkle {
    bool armed = false;
    uint32_t expected_root = 0;
    uint32_t leaf_total = 0;
};

DeviceMerkle armDeviceMerkle(const FrameHeader& header, const uint8_t* frame, uint64_t frame_len, uint64_t chunk,
                             const OutputTarget& target) {
    if (merkleSwitch("KVN_NO_DEVICE_MERKLE") || !header.has_merkle_root || target.on_device ||
        !header.has_content_size || frame_len < 4)
        return {};
    if (!getKernelHandle(&DecodeKernelHandles::seg_hash_fn) || !getKernelHandle(&DecodeKernelHandles::chunk_combine_fn) ||
        !getKernelHandle(&DecodeKernelHandles::merkle_verdict_fn))
        return {};
    const uint64_t leaves = ceilDiv(header.content_size, chunk);
    if (leaves > kMaxDeviceLeaves) return {};
    return {true, loadLe32(frame + frame_len - 4), uint32_t(leaves)};
}

// Copies a stored block's bytes to the output at byte `at`.
Error copyStored(const uint8_t* bytes, uint64_t len, uint64_t at, uint8_t* dst, const OutputTarget& target,
                 DecoderState& decoder) {
    if (len == 0) return Error::None;
    if (!target.on_device) {
        std::memcpy(dst + at, bytes, len);
        return Error::None;
    }
    // The table's host-to-device copy has no destination offset: stage the
    // bytes in the payload slot and copy them across at `at`.
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD || !ops.memcpyDtoDDstOffsetAsync) return Error::BadMode;
    if (ensureDeviceSlot(decoder, kPayloadSlot, len + 16) != Error::None) return Error::BadMode;
    if (ops.memcpyHtoD(slotHandle(decoder, kPayloadSlot), bytes, len) != Error::None) return Error::BadMode;
    if (ops.memcpyDtoDDstOffsetAsync(target.device, slotHandle(decoder, kPayloadSlot), at, len, 0) != Error::None)
        return Error::BadMode;
    return Error::None;
}

struct BlockContext {
    const FrameHeader& header;
    uint64_t chunk;
    uint8_t* dst;
    const OutputTarget& target;
    DecoderState& decoder;
    const DeviceMerkle& merkle;
    int32_t* verdict;
    bool has_dict;
};

// One coded block: descriptors, the pipeline run and the chunk prefixes.
Error decodeCodedBlock(const BlockContext& c, std::span<const uint8_t> payload, uint64_t at, uint64_t raw) {
    if (raw == 0) return Error::None;
    // Working storage of the call: the 32 MiB decode threads carry it.
    KvnChunkDesc descs[kMaxBatchChunks];
    const uint64_t n = ceilDiv(raw, c.chunk);
    if (n > kMaxBatchChunks) return Error::BadFrame;
    std::memset(descs, 0, n * sizeof(KvnChunkDesc));
    ChunkWalk walk;
    KVN_TRY(walkChunks(payload, raw, uint32_t(c.chunk), c.header.sc_group_size, at, {descs, n}, &walk));
    dumpBlockChunks({descs, walk.chunk_count}, payload);

    DecodeBatch batch{
        .host_descs = descs,
        .chunk_count = walk.chunk_count,
        .host_payload = payload.data(),
        .payload_len = payload.size(),
        .host_out = c.dst,
        .out_off = at,
        .out_len = raw,
        .dev_out = c.target.device,
        .out_on_device = c.target.on_device,
        .dict_buf = c.has_dict ? c.decoder.dict_buffer.handle : 0,
        .dict_len = c.has_dict ? uint32_t(c.decoder.dict_buffer_len) : 0,
        .chunks_per_item = walk.chunks_per_item,
        .subchunk_size = kSubchunkSize,
        .large_chunks = c.chunk > kPipelinedRawChunkLimit,
        .level_code = uint8_t(c.header.level_code > 2 ? c.header.level_code : 1),
    };
    // The last coded block of a frame gets the device verdict: its run hashes
    // every leaf of the frame from the output's first byte (earlier blocks are
    // its history). Its chunk prefixes must be restored on the device first,
    // by the prefix kernel at a binding offset the device accepts; otherwise
    // the CPU checks the root.
    const uint64_t alignment = deviceBindingAlignment();
    const bool restore = walk.has_prefix_area && walk.chunk_count >= 2;
    const bool restorable = !restore || (getKernelHandle(&DecodeKernelHandles::sc_prefix_apply_fn) &&
                                         (at == 0 || (alignment != 0 && at % alignment == 0)));
    if (c.merkle.armed && at + raw == c.header.content_size && restorable) {
        batch.merkle_leaves = c.merkle.leaf_total;
        batch.leaf_off = 0;
        batch.leaf_total = c.merkle.leaf_total;
        batch.merkle_chunk_size = uint32_t(c.chunk);
        batch.expected_root = c.merkle.expected_root;
        batch.verdict_dst = c.verdict;
        batch.sc_table_off = walk.has_prefix_area ? walk.prefix_area_off : 0;
        batch.last_batch = true;
    }
    KVN_TRY(runDecodePipeline(c.decoder, batch));

    if (!c.target.on_device) {
        // A judged batch came back with its prefixes restored: the verdict
        // covers exactly the bytes the caller gets.
        if (batch.merkle_leaves == 0) applyChunkPrefixes(payload, walk, raw, uint32_t(c.chunk), c.dst + at);
        return Error::None;
    }
    if (!walk.has_prefix_area || walk.chunk_count < 2) return Error::None;
    // A device output is not checked afterwards: unrestored chunk starts
    // would reach the caller as a success.
    const std::optional<KernelHandle> prefix = getKernelHandle(&DecodeKernelHandles::sc_prefix_apply_fn);
    if (!prefix) return Error::KernelMissing;
    // The pipeline left the payload at the start of its payload slot.
    const uint32_t groups = uint32_t((n + 127) / 128);
    KernelCall call(*prefix, groups);
    call.buffer(c.target.device).buffer(slotHandle(c.decoder, kPayloadSlot));
    call.wide(walk.prefix_area_off).word(uint32_t(n)).word(uint32_t(c.chunk)).wide(raw);
    const GpuOpsTable& ops = gpuOps();
    if (at != 0 || call.launch(c.decoder, 0) != Error::None) return Error::BadMode;
    if (!ops.ctxSynchronize || ops.ctxSynchronize() != Error::None) return Error::BadMode;
    return Error::None;
}

}  // namespace

bool merkleSwitch(const char* variable) { return decodeDiagnostics().merkle_switches && envPresent(variable); }

int32_t* resetVerdictCell(DecoderState& decoder) {
    int32_t* cell = ensureVerdictCell(decoder);
    if (cell) *cell = kVerdictNone;
    return cell;
}

Error uploadDictionary(DecoderState& decoder, uint32_t id, const uint8_t* data, uint64_t len) {
    if (decoder.dict_buffer.handle != 0 && decoder.dict_buffer_id == id && decoder.dict_buffer_len == len)
        return Error::None;
    if (len >= (uint64_t{1} << 32)) return Error::BadMode;
    if (!ensureDevice()) return Error::BackendNotAvailable;
    decoder.dict_buffer_id = 0;
    decoder.dict_buffer_len = 0;
    KVN_TRY(ensureDeviceSlot(decoder.dict_buffer, len ? len : 16));
    const GpuOpsTable& ops = gpuOps();
    if (len > 0 && (!ops.memcpyHtoD || ops.memcpyHtoD(decoder.dict_buffer.handle, data, len) != Error::None))
        return Error::CopyFailed;
    decoder.dict_buffer_id = id;
    decoder.dict_buffer_len = len;
    return Error::None;
}

Error checkFrameTrailers(const FrameHeader& header, const uint8_t* frame, uint64_t frame_len, const uint8_t* out,
                         uint64_t bytes, DecoderState& decoder, int32_t verdict) {
    KVN_TRY(checkContentChecksum(header.has_checksum, header.has_merkle_root, frame, frame_len, out, bytes));
    if (!header.has_merkle_root) return Error::None;
    const MerkleTrailer trailer = readMerkleTrailer(true, header.sc_group_size, frame, frame_len);
    if (trailer.error != Error::None) return trailer.error == Error::ChecksumMismatch ? Error::Truncated : trailer.error;
    if (!trailer.present) return Error::None;
    dumpMerkleInput(out, bytes, "verdict", uint32_t(verdict), trailer.stored_root);
    KVN_TRY(compareDeviceLeaves(decoder, out, bytes, trailer.leaf_size, verdict, trailer.stored_root));
    if (verdict == kVerdictMatch) return Error::None;
    if (verdict == kVerdictMismatch) return Error::ChecksumMismatch;
    const MerkleRoot root = chunkMerkleRoot(out, bytes, trailer.leaf_size);
    if (root.error != Error::None) return Error::ChecksumMismatch;
    dumpMerkleInput(out, bytes, "eff", uint32_t(trailer.leaf_size), trailer.stored_root);
    dumpCpuMerkle(out, bytes, trailer.leaf_size, root.root, trailer.stored_root);
    if (root.root != trailer.stored_root && !merkleSwitch("KVN_SKIP_MERKLE")) return Error::ChecksumMismatch;
    return Error::None;
}

FrameResult decodeHostFrame(const uint8_t* frame, uint64_t frame_len, uint8_t* dst, uint64_t dst_cap,
                            DecoderState& decoder, const OutputTarget& target, TrailerChecks checks) {
    const FrameHeader header = parseFrameHeader(frame, frame_len);
    if (header.error != Error::None) return {0, Error::BadFrame};
    DictionaryBytes dict{nullptr, 0};
    if (header.has_dict_id) {
        if (findDictionaryById(decoder.dictionaries, header.dict_id, &dict) != Error::None)
            return {0, Error::UnknownDictionary};
    }
    if (header.has_content_size) {
        if (header.content_size > (uint64_t{1} << 32)) return {0, Error::ContentSizeTooLarge};
        // Coded blocks reach a host output through exact copies from the device
        // slot (which has the kernels' spare bytes), so the content fits.
        if (!target.on_device && dst_cap < header.content_size) return {0, Error::OutputTooSmall};
    }
    int32_t local_verdict = kVerdictNone;
    int32_t* verdict = resetVerdictCell(decoder);
    if (!verdict) verdict = &local_verdict;
    const uint64_t chunk = frameChunkSize(header.sc_group_size);
    // Device leaves hash the bytes as decoded; trailers left to the caller cover
    // other bytes.
    const DeviceMerkle merkle = checks == TrailerChecks::Run ? armDeviceMerkle(header, frame, frame_len, chunk, target)
                                                             : DeviceMerkle{};
    const BlockContext context{header, chunk, dst, target, decoder, merkle, verdict, header.has_dict_id};
    bool dict_uploaded = false;

    uint64_t pos = header.header_length;
    uint64_t produced = 0;
    if (frame_len - pos >= 4 && loadLe32(frame + pos) != 0) {
        for (;;) {
            if (frame_len - pos < kBlockHeaderSize) return {0, Error::InvalidBlockHeader};
            const BlockHeader block = readBlockHeader(frame + pos);
            const uint64_t payload_at = pos + kBlockHeaderSize;
            if (endsFrame(block)) {
                pos = payload_at;
                break;
            }
            if (block.skip) {
                if (block.payload_length > frame_len - payload_at) return {0, Error::BlockDataTruncated};
            } else if (block.stored) {
                if (block.raw_size > frame_len - payload_at) return {0, Error::BlockDataTruncated};
                // The payload is the raw bytes: two different lengths are a damaged header.
                if (block.payload_length != block.raw_size) return {0, Error::BadFrame};
                if (!target.on_device && produced + block.raw_size > dst_cap) return {0, Error::OutputTooSmall};
                if (Error e = copyStored(frame + payload_at, block.raw_size, produced, dst, target, decoder);
                    e != Error::None)
                    return {0, e};
                produced += block.raw_size;
            } else {
                if (block.payload_length > frame_len - payload_at) return {0, Error::BlockDataTruncated};
                if (!target.on_device && produced + block.raw_size > dst_cap) return {0, Error::OutputTooSmall};
                if (header.has_dict_id && !dict_uploaded) {
                    if (uploadDictionary(decoder, header.dict_id, dict.data, dict.length) != Error::None)
                        return {0, Error::BadMode};
                    dict_uploaded = true;
                }
                if (Error e = decodeCodedBlock(context, {frame + payload_at, block.payload_length}, produced,
                                               block.raw_size);
                    e != Error::None)
                    return {0, e};
                produced += block.raw_size;
            }
            pos = payload_at + block.payload_length;
            if (frame_len - pos < 4) break;
            if (loadLe32(frame + pos) == 0) {
                pos += kEndMarkSize;
                break;
            }
        }
    } else if (frame_len - pos >= 4) {
        pos += kEndMarkSize;
    }

    // One list for all the frame's batches: resolving per batch would keep
    // only the last block's entries.
    resolvePendingTimings(backend().deviceOps(), decoder.pending_timings, decoder.timings);
    if (header.has_content_size && produced != header.content_size) return {0, Error::SizeMismatch};
    if (checks == TrailerChecks::LeaveToCaller || target.on_device) return {produced, Error::None};
    if (Error e = checkFrameTrailers(header, frame, frame_len, dst, produced, decoder, *verdict); e != Error::None)
        return {0, e};
    return {produced, Error::None};
}

}  // namespace kvn
