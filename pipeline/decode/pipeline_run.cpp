#include "pipeline/decode/pipeline_run.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "core/format/chunk_walk.h"
#include "core/platform/platform.h"
#include "kernels/format_constants.h"
#include "pipeline/decode/batch_windows.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/device_merkle.h"
#include "pipeline/decode/dispatch_trace.h"
#include "pipeline/decode/huffman_stage.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/lz_dispatch.h"
#include "pipeline/decode/off16_gather.h"
#include "pipeline/decode/second_stream.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/device/gpu_work_lock.h"

namespace kvn {
namespace {

constexpr uint64_t kOutputSlack = 64;

Error upload(DeviceBufferHandle dst, const void* src, uint64_t bytes, StreamHandle stream) {
    const GpuOpsTable& ops = gpuOps();
    if (bytes == 0) return Error::None;
    return checkCopy(ops.memcpyHtoDAsync ? ops.memcpyHtoDAsync(dst, src, bytes, stream)
                                         : ops.memcpyHtoD(dst, src, bytes));
}

// Uploads the scratch slot starts (one per slot, then the region size) and
// sets the region offsets. Synchronous: the table lives on the caller's stack.
Error placeStreamRegions(DecoderState& decoder, const std::vector<uint32_t>& slot_starts, BatchBuffers& buffers) {
    const uint64_t bytes = 4 * slot_starts.size();
    KVN_TRY(ensureDeviceSlot(decoder, kScratchOffsets, bytes));
    KVN_TRY(checkCopy(gpuOps().memcpyHtoD(slotHandle(decoder, kScratchOffsets), slot_starts.data(), bytes)));
    // The off16 region is bound at its offset: a multiple of 256 meets every
    // storage-buffer offset alignment.
    const uint64_t region = (uint64_t(slot_starts.back()) + 255) & ~uint64_t{255};
    buffers.tok_region_off = region;
    buffers.off16_region_off = 2 * region;
    buffers.second_slot_off = slot_starts.size() > 2 ? slot_starts[1] : 0;
    buffers.slot_starts = slot_starts;
    return Error::None;
}

// The decoded-stream scratch has one slot per numbered sub-chunk. Only coded
// chunks' sub-chunks can hold streams; stored, byte-fill and empty chunks
// read no scratch and share one empty spare slot after them (the scan only
// clears its list entries there), so that a frame of many small stored chunks
// does not reserve a slot for each. Each slot holds what its sub-chunk can
// use, so that a frame of many tiny coded sub-chunks reserves scratch in
// proportion to its output. Numbered here instead of by the prefix-sum
// kernel; sets the sub-chunk total n.
Error numberStreamSlots(DecoderState& decoder, const DecodeBatch& batch, BatchBuffers& buffers) {
    if (batch.chunk_count > kMaxBatchChunks) return Error::BadMode;
    std::vector<uint32_t> starts(batch.chunk_count);
    std::vector<uint32_t> slot_starts{0};
    const uint64_t subchunk = batch.subchunk_size ? batch.subchunk_size : KVN_SUBCHUNK_SIZE_DEFAULT;
    uint64_t coded = 0;
    uint64_t region = 0;
    for (uint64_t i = 0; i < batch.chunk_count; ++i) {
        const KvnChunkDesc& desc = batch.host_descs[i];
        if (!holdsStreams(desc)) continue;
        starts[i] = uint32_t(coded);
        coded += chunkSubChunkCount(desc, batch.subchunk_size);
        if (coded > kMaxHuffmanSubchunks) return Error::BadMode;
        for (uint64_t left = desc.decomp_size; left > 0; left -= std::min(left, subchunk)) {
            region += streamSlotBytes(std::min(left, subchunk));
            slot_starts.push_back(uint32_t(region));
        }
    }
    // chunkSubChunkCount and the walk above must agree slot for slot.
    if (slot_starts.size() != coded + 1) return Error::BadMode;
    bool spare = false;
    for (uint64_t i = 0; i < batch.chunk_count; ++i) {
        if (holdsStreams(batch.host_descs[i])) continue;
        starts[i] = uint32_t(coded);
        spare = true;
    }
    if (spare) slot_starts.push_back(uint32_t(region));
    buffers.coded_slots = coded;
    const uint32_t total = uint32_t(coded + (spare ? 1 : 0));
    const GpuOpsTable& ops = gpuOps();
    // Synchronous: both live on this stack frame.
    KVN_TRY(checkCopy(ops.memcpyHtoD(slotHandle(decoder, kSubchunkStarts), starts.data(), 4 * starts.size())));
    KVN_TRY(checkCopy(ops.memcpyHtoD(slotHandle(decoder, kSubchunkTotal), &total, 4)));
    buffers.subchunks = total;
    buffers.chunk_slots = std::move(starts);
    return placeStreamRegions(decoder, slot_starts, buffers);
}

// Steps 6 to 9: buffers, uploads and the sub-chunk count; fills `buffers`.
Error stageInputs(DecoderState& decoder, const DecodeBatch& batch, StreamHandle stream, BatchBuffers& buffers) {
    KVN_TRY(ensureDeviceSlot(decoder, kOutSlot, batch.out_off + batch.out_len + kOutputSlack));
    if (batch.out_off > 0 && !batch.out_on_device) {
        KVN_TRY(upload(slotHandle(decoder, kOutSlot), batch.host_out, batch.out_off, stream));
    }
    // The LZ kernels only OR bits into their status cell: it starts at 0.
    static const uint32_t kNoStatus = 0;
    KVN_TRY(ensureDeviceSlot(decoder, kLzStatus, 4));
    KVN_TRY(upload(slotHandle(decoder, kLzStatus), &kNoStatus, 4, stream));
    KVN_TRY(ensureDeviceSlot(decoder, kPayloadSlot, batch.payload_len + (batch.payload_len ? 16 : 20)));
    const uint64_t desc_bytes = sizeof(KvnChunkDesc) * batch.chunk_count;
    KVN_TRY(ensureDeviceSlot(decoder, kDescSlot, desc_bytes ? desc_bytes : 16));
    if (batch.descs_on_device) {
        buffers.desc_buf = batch.dev_descs;
    } else {
        KVN_TRY(upload(slotHandle(decoder, kDescSlot), batch.host_descs, desc_bytes, stream));
        buffers.desc_buf = slotHandle(decoder, kDescSlot);
    }
    if (batch.payload_on_device && batch.payload_len > 0) {
        buffers.payload_buf = batch.dev_payload;
        buffers.payload_buf_off = batch.dev_payload_off;
    } else {
        buffers.payload_buf = slotHandle(decoder, kPayloadSlot);
        buffers.payload_buf_off = 0;
        KVN_TRY(upload(buffers.payload_buf, batch.host_payload, batch.payload_len, stream));
    }

    // Sub-chunk total n: counted on the host for host descriptors, an upper
    // bound for descriptors a device walk wrote.
    if (batch.descs_on_device) {
        buffers.subchunks = deviceDescSubchunkBound(batch.chunk_count, batch.subchunk_size);
    } else {
        const std::optional<KernelHandle> prefix_sum = getKernelHandle(&DecodeKernelHandles::prefix_sum_chunks_fn);
        if (!prefix_sum) return Error::KernelMissing;
        KVN_TRY(ensureDeviceSlot(decoder, kSubchunkStarts, kSubchunkStartsBytes));
        KVN_TRY(ensureDeviceSlot(decoder, kSubchunkTotal, 4));
        buffers.subchunks = 0;
        // An empty batch keeps the Huffman road, which refuses it.
        buffers.entropy_coded = batch.chunk_count == 0;
        for (uint64_t i = 0; i < batch.chunk_count; ++i) {
            const KvnChunkDesc& desc = batch.host_descs[i];
            buffers.subchunks += chunkSubChunkCount(desc, batch.subchunk_size);
            buffers.entropy_coded |= holdsStreams(desc);
        }
        if (batch.level_code >= 3 && buffers.entropy_coded && batch.chunk_count > 0) {
            KVN_TRY(numberStreamSlots(decoder, batch, buffers));
        } else {
            KernelCall call(*prefix_sum, 1);
            call.buffer(buffers.desc_buf).buffer(slotHandle(decoder, kSubchunkStarts));
            call.buffer(slotHandle(decoder, kSubchunkTotal));
            call.word(uint32_t(batch.chunk_count)).word(batch.subchunk_size);
            KVN_TRY(call.launch(decoder, stream, "kvnPrefixSumChunksKernel"));
            KVN_TRY(computeBarrier(stream));
        }
    }
    const uint64_t n = buffers.subchunks;
    if (batch.level_code >= 3 && buffers.entropy_coded) {
        // The host numbers the slots of decoded streams: descriptors only the
        // device holds would leave them unplaced.
        if (batch.descs_on_device || n > kMaxHuffmanSubchunks) return Error::BadMode;
        // A capped batch gets its scratch when its road is chosen.
        buffers.batch_cap = buffers.slot_starts.empty() ? n : batchWindowCap(n, buffers.tok_region_off);
        if (buffers.batch_cap >= n) {
            KVN_TRY(ensureDeviceSlot(decoder, kEntropyScratch, 3 * buffers.tok_region_off));
        }
    }
    if (batch.chunk_count > kMaxBatchChunks) return Error::BadMode;
    if (!batch.chunk_count_on_device) {
        KVN_TRY(ensureDeviceSlot(decoder, kChunkCountCell, 4));
        const uint32_t count = uint32_t(batch.chunk_count);
        // Synchronous: the value lives on this stack frame.
        KVN_TRY(checkCopy(gpuOps().memcpyHtoD(slotHandle(decoder, kChunkCountCell), &count, 4)));
    }
    return Error::None;
}

// The host cell the LZ status is read into: the decoder's status page, made
// on first use and freed with the handle.
uint32_t* lzStatusCell(DecoderState& decoder) {
    constexpr uint64_t kPage = 4096;
    if (!decoder.status_array.pages) {
        decoder.status_array.pages = allocPages(kPage);
        if (!decoder.status_array.pages) return nullptr;
        decoder.status_array.bytes = kPage;
    }
    return static_cast<uint32_t*>(decoder.status_array.pages);
}

// With `dedicated` the copy takes the device's dedicated device-to-host path.
Error copyOut(DecoderState& decoder, const DecodeBatch& batch, StreamHandle stream, bool dedicated) {
    const GpuOpsTable& ops = gpuOps();
    if (batch.out_len == 0) return Error::None;
    // A device output is written in place unless it has history, which no
    // road of this library hands over (the table has no copy with offsets on
    // both sides).
    if (batch.out_on_device) return Error::BadMode;
    if (batch.out_off == 0) {
        if (dedicated)
            return checkCopy(ops.memcpyDtoHXferAsync(batch.host_out, slotHandle(decoder, kOutSlot), batch.out_len, stream));
        return checkCopy(ops.memcpyDtoHAsync
                             ? ops.memcpyDtoHAsync(batch.host_out, slotHandle(decoder, kOutSlot), batch.out_len, stream)
                             : ops.memcpyDtoH(batch.host_out, slotHandle(decoder, kOutSlot), batch.out_len));
    }
    // A later block: the only offset-taking read is synchronous, after the stream drains.
    if (!ops.memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    KVN_TRY(checkSync(ops.streamSynchronize(stream)));
    return checkCopy(ops.memcpyDtoHSrcOffset(batch.host_out + batch.out_off, slotHandle(decoder, kOutSlot),
                                             batch.out_len, batch.out_off));
}

// The Merkle pass only reads the output: it runs on the batch's second
// stream while the output is copied back. The chunk prefixes change the
// output, so they go first, on the batch's stream.
Error hashAndCopyOut(DecoderState& decoder, const DecodeBatch& batch, const BatchBuffers& buffers, StreamHandle stream,
                     bool own_stream, DeviceBufferHandle output, bool leaves_hashed) {
    const bool in_place = batch.out_on_device && batch.out_off == 0;
    if (!deviceMerkleArmed(batch)) return in_place ? Error::None : copyOut(decoder, batch, stream, false);
    if (!leaves_hashed) KVN_TRY(restoreChunkPrefixes(decoder, batch, buffers, stream, output));
    if (in_place) return hashDeviceLeaves(decoder, batch, stream, output, leaves_hashed);
    SecondStream second;
    KVN_TRY(openSecondStream(decoder, stream, own_stream, &second));
    const Error hashed = hashDeviceLeaves(decoder, batch, second.stream, output, leaves_hashed);
    const Error copied = hashed == Error::None ? copyOut(decoder, batch, stream, second.dedicated_copy) : Error::None;
    // Joined whatever happened: the batch's stream, and every wait on it,
    // must cover what the second stream was given.
    const Error joined = joinSecondStream(decoder, stream, second);
    if (hashed != Error::None) return hashed;
    return copied != Error::None ? copied : joined;
}

Error runBatch(DecoderState& decoder, const DecodeBatch& batch, StreamHandle stream, bool own_stream) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD || !ops.memcpyDtoH || !ops.launchKernel || !ops.ctxSynchronize || !ops.streamSynchronize)
        return Error::BackendNotAvailable;
    BatchBuffers buffers;
    KVN_TRY(stageInputs(decoder, batch, stream, buffers));
    const DeviceBufferHandle chunk_count_buf =
        batch.chunk_count_on_device ? batch.dev_chunk_count : slotHandle(decoder, kChunkCountCell);
    if (own_stream && ops.streamFlushTransfer) {
        KVN_TRY(checkSync(ops.streamFlushTransfer(stream)));
    }

    const bool split_timer = envPresent("KVN_SPLIT_TIMER");
    // A capped batch gathers its stored off16 halves once its road is chosen.
    const bool capped = buffers.batch_cap < buffers.subchunks;
    uint32_t streams = 0;
    if (batch.level_code >= 3 && !buffers.entropy_coded) {
        // Stored, byte-fill and empty chunks only: no stream to decode.
    } else if (batch.level_code >= 3 && getKernelHandle(&DecodeKernelHandles::huff_build_fn)) {
        if (Error e = prepareHuffmanStage(decoder, buffers, stream, batch.chunk_count, batch.payload_len,
                                          batch.subchunk_size, !capped, &streams);
            e != Error::None)
            return e;
    } else if (batch.level_code >= 3 && batch.chunk_count > 0) {
        // Coded streams would reach the raw LZ kernel undecoded.
        return Error::KernelMissing;
    }

    const bool in_place = batch.out_on_device && batch.out_off == 0;
    const DeviceBufferHandle destination = in_place ? batch.dev_out : slotHandle(decoder, kOutSlot);
    uint64_t dict_address = 0;
    uint32_t dict_len = 0;
    if (batch.dict_buf != 0 && batch.dict_len != 0) {
        dict_address = bufferDeviceAddress(batch.dict_buf);
        if (dict_address == 0) return Error::BackendNotAvailable;
        dict_len = batch.dict_len;
    }
    if (envPresent("KVN_DBG_CAP"))
        std::fprintf(stderr, "[cap] block_len=%" PRIu64 " active_off=%" PRIu64 " comp_cap=%" PRIu64 "\n",
                     batch.payload_len, buffers.payload_buf_off, buffers.payload_buf_off + batch.payload_len);
    // The CUDA pipelined raw kernel hashes the leaves as it decodes, where
    // those are the frame's leaves.
    uint64_t leaf_hashes = 0;
    if (kernelsTakeCudaForms() && fusedLeavesFit(batch)) {
        KVN_TRY(ensureDeviceSlot(decoder, kChunkHashes, 4 * uint64_t(batch.leaf_total)));
        leaf_hashes = bufferDeviceAddress(slotHandle(decoder, kChunkHashes));
    }
    const LzDispatch lz{
        .chunks_per_item = batch.chunks_per_item ? batch.chunks_per_item : 1,
        .subchunk_size = batch.subchunk_size,
        .large_chunks = batch.large_chunks,
        .huffman_streams = streams,
        .chunk_count = uint32_t(batch.chunk_count),
        .host_descs = batch.descs_on_device || batch.chunk_count_on_device ? nullptr : batch.host_descs,
        .split_timer = split_timer,
        .chunk_count_buf = chunk_count_buf,
        .destination = destination,
        .status = slotHandle(decoder, kLzStatus),
        .destination_off = batch.out_off,
        .destination_bytes = batch.out_len,
        .output_length = uint32_t(batch.out_off + batch.out_len),
        .payload_end = uint32_t(buffers.payload_buf_off + batch.payload_len),
        .dict_address = dict_address,
        .dict_len = dict_len,
        .leaf_hashes = leaf_hashes,
    };
    bool leaves_hashed = false;
    const WindowedBatch in_windows{batch, buffers, lz, buffers.batch_cap, streams};
    WindowPlan plan;
    if (capped && streams > 0) {
        KVN_TRY(planWindows(decoder, in_windows, stream, &plan));
    }
    traceDispatch(decoder, batch, buffers, plan, streams);
    if (!plan.windows.empty()) {
        KVN_TRY(decodeInWindows(decoder, in_windows, plan, stream));
    } else {
        // A capped batch that cannot go in windows holds all its streams at once.
        if (capped) {
            KVN_TRY(ensureDeviceSlot(decoder, kEntropyScratch, 3 * buffers.tok_region_off));
            KVN_TRY(launchGatherRawOff16(decoder, buffers, stream, uint32_t(2 * buffers.subchunks), batch.payload_len));
        }
        if (streams > 0) {
            KVN_TRY(launchHuffDecode(decoder, buffers, stream, streams, split_timer));
        }
        const LzResult decoded = dispatchLzDecode(decoder, buffers, stream, lz);
        KVN_TRY(decoded.error);
        leaves_hashed = decoded.leaves_hashed;
    }
    KVN_TRY(hashAndCopyOut(decoder, batch, buffers, stream, own_stream, destination, leaves_hashed));
    // The LZ status travels back with the output, into a cell the handle
    // keeps (a stream that fails to drain must not write to a dead frame).
    // Bytes the kernels did not write must not pass as this call's result.
    uint32_t* lz_status = lzStatusCell(decoder);
    if (!lz_status) return Error::OutOfMemory;
    *lz_status = 0;
    if (Error e = checkCopy(ops.memcpyDtoHAsync ? ops.memcpyDtoHAsync(lz_status, lz.status, 4, stream)
                                                : ops.memcpyDtoH(lz_status, lz.status, 4));
        e != Error::None)
        return e;
    // The frame decoder resolves the timings of all its batches together.
    KVN_TRY(checkSync(ops.streamSynchronize(stream)));
    return lzStatusError(*lz_status);
}

}  // namespace

Error runDecodePipeline(DecoderState& decoder, const DecodeBatch& batch) {
    if (!ensureDevice()) return Error::BackendNotAvailable;
    if (!getKernelHandle(&DecodeKernelHandles::kernel_fn) && !getKernelHandle(&DecodeKernelHandles::kernel_raw_fn))
        return Error::KernelMissing;
    const GpuOpsTable& ops = gpuOps();
    if (!decoder.own_stream_created) {
        if (!ops.streamCreate || ops.streamCreate(&decoder.own_stream, 0) != Error::None) return Error::BackendNotAvailable;
        decoder.own_stream_created = true;
    }
    const StreamHandle previous = decoder.stream;
    const bool own_stream = previous == 0;
    const OwnStreamWorkLock work_lock(own_stream);
    if (own_stream) decoder.stream = decoder.own_stream;
    const Error error = runBatch(decoder, batch, decoder.stream, own_stream);
    // Nothing queued may outlive the lock or read freed stack data.
    if (error != Error::None) drainGather(decoder);
    if (own_stream && error != Error::None) ops.streamSynchronize(decoder.stream);
    decoder.stream = previous;
    return error;
}

}  // namespace kvn
