#include "pipeline/decode/huffman_stage.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "core/platform/platform.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/off16_gather.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint32_t kScanParseGroup = 256;
constexpr uint32_t kCompactGroups = 5;
constexpr uint32_t kParallelMergeGroups = 4;
constexpr uint64_t kHuffDescDumpBytes = 200;
// Streams whose tables are built and used per pair of launches: the table
// array stays 2 MiB whatever the batch declares.
constexpr uint32_t kHuffLutWindow = 512;

// Streams per pair of table and decode launches. The CUDA forms keep every
// stream's table at its own slot: one window of all of them.
uint32_t lutWindow(uint32_t streams) { return kernelsTakeCudaForms() ? std::max(streams, 1u) : kHuffLutWindow; }

uint64_t roundUp256(uint64_t n) { return (n + 255) & ~uint64_t{255}; }

// The six arrays of the scan, each at its offset in scan_lists.
struct ScanLayout {
    uint64_t offsets[6];
    uint64_t bytes;
};

ScanLayout scanLayout(uint64_t n) {
    const uint64_t r20 = roundUp256(n * 20);
    const uint64_t r16 = roundUp256(n * 16);
    return {{0, r20, 2 * r20, 3 * r20, 4 * r20, 4 * r20 + r16}, 4 * r20 + 2 * r16};
}

}  // namespace

Error prepareHuffmanStage(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream,
                          uint64_t chunk_count, uint64_t payload_len, uint32_t subchunk_size, bool gather,
                          uint32_t* streams) {
    *streams = 0;
    const uint64_t n = batch.subchunks;
    KVN_TRY(ensureDeviceSlot(decoder, kDescCounters, kDescCounterBytes));
    KVN_TRY(ensureDeviceSlot(decoder, kSubchunkStarts, kSubchunkStartsBytes));
    const std::optional<KernelHandle> scan = getKernelHandle(&DecodeKernelHandles::scan_parse_fn);
    const std::optional<KernelHandle> compact = getKernelHandle(&DecodeKernelHandles::compact_all_descs_fn);
    const std::optional<KernelHandle> merge = getKernelHandle(&DecodeKernelHandles::merge_huff_descs_fn);
    if (!scan || !compact || !merge) return Error::KernelMissing;
    // Without the decode kernel the streams would stay undecoded while the LZ
    // stage reads them: the stage is missing as a whole.
    if (!getKernelHandle(&DecodeKernelHandles::huff_decode_fn)) return Error::KernelMissing;
    if (chunk_count == 0 || n == 0) return Error::BadMode;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD || !ops.launchKernel || !ops.memsetD8) return Error::BackendNotAvailable;

    const ScanLayout layout = scanLayout(n);
    KVN_TRY(ensureDeviceSlot(decoder, kScanLists, layout.bytes));
    KVN_TRY(checkCopy(ops.memsetD8(slotHandle(decoder, kScanLists), 0, layout.bytes)));
    KVN_TRY(ensureDeviceSlot(decoder, kScanChunkCount, 4));
    const uint32_t count32 = uint32_t(chunk_count);
    KVN_TRY(checkCopy(ops.memcpyHtoD(slotHandle(decoder, kScanChunkCount), &count32, 4)));

    const uint64_t payload_end = batch.payload_buf_off + payload_len;
    KernelCall parse(*scan, uint32_t((chunk_count + kScanParseGroup - 1) / kScanParseGroup));
    parse.buffer(batch.payload_buf).buffer(batch.desc_buf).buffer(slotHandle(decoder, kSubchunkStarts));
    parse.buffer(slotHandle(decoder, kScanChunkCount));
    for (uint64_t offset : layout.offsets) parse.buffer(slotHandle(decoder, kScanLists), offset);
    parse.buffer(slotHandle(decoder, kScratchOffsets));
    parse.word(uint32_t(payload_end < 0xFFFFFFFFull ? payload_end : 0xFFFFFFFFull)).word(subchunk_size);
    KVN_TRY(parse.launch(decoder, stream, "kvnScanParseKernel"));
    KVN_TRY(computeBarrier(stream));

    // Compaction keeps at most one entry per sub-chunk in each Huffman list
    // and two (both halves) in the stored-half list.
    for (DecodeSlot list : {kHuffList0, kHuffList1, kHuffList2, kHuffList3})
        KVN_TRY(ensureDeviceSlot(decoder, list, roundUp256(n * kHuffListEntryBytes)));
    KVN_TRY(ensureDeviceSlot(decoder, kOff16List, roundUp256(2 * n * kOff16ListEntryBytes)));
    KVN_TRY(checkCopy(ops.memsetD8(slotHandle(decoder, kDescCounters), 0, kDescCounterBytes)));

    KernelCall compaction(*compact, kCompactGroups);
    for (uint64_t offset : layout.offsets) compaction.buffer(slotHandle(decoder, kScanLists), offset);
    compaction.buffer(slotHandle(decoder, kSubchunkTotal));
    for (DecodeSlot list : {kHuffList0, kHuffList1, kHuffList2, kHuffList3, kOff16List})
        compaction.buffer(slotHandle(decoder, list));
    compaction.buffer(slotHandle(decoder, kDescCounters));
    KVN_TRY(compaction.launch(decoder, stream, "kvnCompactAllDescsKernel (fused x5)"));
    KVN_TRY(computeBarrier(stream));

    if (gather) {
        KVN_TRY(launchGatherRawOff16(decoder, batch, stream, uint32_t(2 * n), payload_len));
    }
    KVN_TRY(ensureDeviceSlot(decoder, kMergedDescs, kHuffDescBytes * 4 * n));
    KVN_TRY(ensureDeviceSlot(decoder, kHuffLuts, kHuffLutBytes * std::min<uint64_t>(4 * n, lutWindow(uint32_t(4 * n)))));
    KVN_TRY(mergeHuffDescs(decoder, stream));
    *streams = uint32_t(4 * n);
    return Error::None;
}

Error mergeHuffDescs(DecoderState& decoder, StreamHandle stream) {
    const std::optional<KernelHandle> parallel = getKernelHandle(&DecodeKernelHandles::merge_huff_descs_par_fn);
    const std::optional<KernelHandle> single =
        parallel ? parallel : getKernelHandle(&DecodeKernelHandles::merge_huff_descs_fn);
    if (!single) return Error::KernelMissing;
    KernelCall call(*single, parallel ? kParallelMergeGroups : 1);
    for (DecodeSlot list : {kHuffList0, kHuffList1, kHuffList2, kHuffList3}) call.buffer(slotHandle(decoder, list));
    for (uint32_t list = 0; list < 4; ++list) call.buffer(slotHandle(decoder, kDescCounters), descCounterAt(list));
    call.buffer(slotHandle(decoder, kMergedDescs)).buffer(slotHandle(decoder, kDescCounters), descCounterAt(KVN_DESC_COUNTER_MERGED));
    KVN_TRY(call.launch(decoder, stream, parallel ? "kvnMergeHuffDescsParKernel (x4)" : "kvnMergeHuffDescsKernel"));
    KVN_TRY(computeBarrier(stream));

    const char* path = envText("KVN_DUMP_HUFF_DESCS");
    if (!path) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamSynchronize || !ops.memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    ops.streamSynchronize(stream);
    const DeviceSlot& merged = decoder.device_slots[kMergedDescs];
    const uint64_t k = merged.capacity < kHuffDescDumpBytes ? merged.capacity : kHuffDescDumpBytes;
    uint8_t host[kHuffDescDumpBytes];
    if (ops.memcpyDtoHSrcOffset(host, merged.handle, k, 0) != Error::None) return Error::None;
    writeWholeFile(path, host, k);
    std::fprintf(stderr, "KVN_DUMP_HUFF_DESCS[%s]: wrote %" PRIu64 " bytes to %s\n", decodeDiagnostics().tag, k, path);
    return Error::None;
}

Error launchHuffTables(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream, uint32_t first,
                       uint32_t count) {
    const std::optional<KernelHandle> build = getKernelHandle(&DecodeKernelHandles::huff_build_fn);
    if (!build) return Error::KernelMissing;
    KernelCall tables(*build, count);
    tables.buffer(batch.payload_buf).buffer(slotHandle(decoder, kMergedDescs)).buffer(slotHandle(decoder, kHuffLuts));
    tables.buffer(slotHandle(decoder, kDescCounters), descCounterAt(KVN_DESC_COUNTER_MERGED)).word(first);
    KVN_TRY(tables.launch(decoder, stream, "kvnHuffBuildLutKernel"));
    return computeBarrier(stream);
}

Error launchHuffStreams(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream, uint32_t first,
                        uint32_t count, const HuffStreamAreas& areas, const char* label) {
    const std::optional<KernelHandle> decode = getKernelHandle(&DecodeKernelHandles::huff_decode_fn);
    if (!decode) return Error::KernelMissing;
    if (areas.dst_base != 0 && !kernelsTakeCudaForms()) return Error::BadMode;
    KernelCall streams4(*decode, count);
    streams4.buffer(batch.payload_buf).buffer(slotHandle(decoder, kMergedDescs)).buffer(slotHandle(decoder, kHuffLuts));
    streams4.buffer(slotHandle(decoder, kDescCounters), descCounterAt(KVN_DESC_COUNTER_MERGED));
    streams4.buffer(slotHandle(decoder, kDescCounters));
    streams4.wide(areas.literals).wide(areas.tokens).wide(areas.off16);
    if (kernelsTakeCudaForms()) streams4.word(areas.dst_base);
    streams4.word(first);
    KVN_TRY(streams4.launch(decoder, stream, label));
    return computeBarrier(stream);
}

Error launchHuffDecode(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream, uint32_t streams,
                       bool split_timer) {
    const GpuOpsTable& ops = gpuOps();
    const uint64_t scratch = bufferDeviceAddress(slotHandle(decoder, kEntropyScratch));
    if (scratch == 0) return Error::BackendNotAvailable;
    double build_ms = 0;
    double decode_ms = 0;
    // Windows of the merged list (S = 4n is a bound; the real count stays on
    // the device, and launches past it return at once): each window's tables
    // are built, then its streams decoded, before the next reuses the array.
    const uint32_t window = lutWindow(streams);
    for (uint32_t first = 0; first < streams; first += window) {
        const uint32_t groups = std::min(window, streams - first);
        const double start = hostTimeMs();
        KVN_TRY(launchHuffTables(decoder, batch, stream, first, groups));
        double built = start;
        if (split_timer) {
            KVN_TRY(checkSync(ops.streamSynchronize(stream)));
            built = hostTimeMs();
        }
        const HuffStreamAreas areas{scratch, scratch + batch.tok_region_off, scratch + batch.off16_region_off, 0};
        KVN_TRY(launchHuffStreams(decoder, batch, stream, first, groups, areas, "kvnHuffDecode4StreamKernel"));
        if (split_timer) {
            KVN_TRY(checkSync(ops.streamSynchronize(stream)));
            build_ms += built - start;
            decode_ms += hostTimeMs() - built;
        }
    }
    if (split_timer && decodeDiagnostics().stage_timing_lines)
        std::fprintf(stderr, "  [huff split] build %.3f ms  decode %.3f ms\n", build_ms, decode_ms);
    return Error::None;
}

}  // namespace kvn
