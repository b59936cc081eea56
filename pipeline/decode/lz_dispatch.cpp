#include "pipeline/decode/lz_dispatch.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/platform/platform.h"
#include "kernels/format_constants.h"
#include "pipeline/decode/decode_dumps.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/lz_launch_forms.h"
#include "pipeline/decode/off16_gather.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// A walk of a whole batch by one work item (chunks that may read each other,
// in order) goes in windows of consecutive dispatches. lavapipe ends an
// invocation's loops after 65,535 iterations in all; a window's estimated
// cost stays well below that (about 30 iterations a chunk whatever its kind,
// one per 32 stored bytes, and generously one per 4 coded bytes). A window
// that still runs out reports KVN_LZ_STATUS_CUT. Windows start at multiples
// of 64 chunks: descriptor (1536-byte) and index (256-byte) binding offsets
// then meet every storage-buffer offset alignment (at most 256).
constexpr uint32_t kLzWindowStep = 64;
constexpr uint64_t kLzWindowBudget = 40000;

uint64_t chunkWalkCost(const KvnChunkDesc& d) {
    const bool coded = (d.flags & KVN_CHUNK_KIND_MASK) == KVN_CHUNK_KIND_CODED;
    return 32 + (coded ? d.decomp_size / 4 : d.decomp_size / 32);
}

// Fills the batch's own output range, never the history before it nor past
// the batch: the destination may be the caller's buffer.
Error fillDestination(const LzDispatch& lz) {
    const char* text = envText("KVN_FILL_DST");
    if (!text) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memsetD8) return Error::BackendNotAvailable;
    // memsetD8 takes no offset: a batch with history is left unfilled.
    if (lz.destination_off != 0 || lz.destination_bytes == 0) return Error::None;
    return checkCopy(ops.memsetD8(lz.destination, fillByteFromText(text), lz.destination_bytes));
}

// The stage dumps of the general launch, each when its variable names a file.
Error runStageDumps(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream) {
    struct StageDump {
        const char* variable;
        DecodeSlot slot;
        uint64_t offset;
        uint64_t bytes;
        bool show_offset;
    };
    const StageDump dumps[] = {
        {"KVN_DUMP_TOK1", kEntropyScratch, batch.tok_region_off + batch.second_slot_off, 0x8000, true},
        {"KVN_DUMP_LIT1", kEntropyScratch, batch.second_slot_off, 0x8000, false},
        {"KVN_DUMP_OFF16_1", kEntropyScratch, batch.off16_region_off + batch.second_slot_off, 0x8000, false},
        {"KVN_DUMP_LUT5", kHuffLuts, 5 * kHuffLutBytes, 1024, false},
    };
    const DecodeDiagnostics& form = decodeDiagnostics();
    for (const StageDump& d : dumps) {
        const char* path = envText(d.variable);
        if (!path) continue;
        const DumpCopy copy = copySlotToFile(decoder, stream, d.slot, d.offset, d.bytes, path);
        if (copy.error != Error::None) return copy.error;
        if (copy.copied != Error::None) {
            if (!d.show_offset) continue;
            if (form.dump_device_addresses) std::fprintf(stderr, "%s[%s]: D2H failed\n", d.variable, form.tag);
            else std::fprintf(stderr, "%s[%s]: D2H failed: %s\n", d.variable, form.tag, errorName(copy.copied));
            continue;
        }
        if (!d.show_offset)
            std::fprintf(stderr, "%s[%s]: wrote %" PRIu64 " bytes to %s\n", d.variable, form.tag, d.bytes, path);
        else if (form.dump_device_addresses)
            std::fprintf(stderr, "%s[%s]: wrote %" PRIu64 " bytes to %s (tok_chunk1_addr=0x%" PRIx64 ")\n", d.variable,
                         form.tag, d.bytes, path, bufferDeviceAddress(slotHandle(decoder, d.slot)) + d.offset);
        else
            std::fprintf(stderr, "%s[%s]: wrote %" PRIu64 " bytes to %s (entropy_scratch+0x%" PRIx64 ")\n", d.variable,
                         form.tag, d.bytes, path, d.offset);
    }
    return Error::None;
}

// The windows of a batch that one work item walks, in order, each dispatch
// reading the output of the ones before. The descriptors (and first-sub-chunk
// indices) are bound from the window's first chunk, so its work item 0 walks
// exactly the window; the count cell keeps the batch's count, which is at
// least the window's.
template <class Launch>
Error launchWindows(const LzDispatch& lz, StreamHandle stream, const Launch& launch) {
    uint32_t first = 0;
    while (first < lz.chunk_count) {
        uint32_t end = first;
        uint64_t cost = 0;
        while (end < lz.chunk_count) {
            const uint32_t step_end = std::min(end + kLzWindowStep, lz.chunk_count);
            uint64_t step_cost = 0;
            for (uint32_t c = end; c < step_end; ++c) step_cost += chunkWalkCost(lz.host_descs[c]);
            if (end > first && cost + step_cost > kLzWindowBudget) break;
            cost += step_cost;
            end = step_end;
        }
        if (first > 0) {
            KVN_TRY(computeBarrier(stream));
        }
        KVN_TRY(launch(first, end - first, 1u));
        first = end;
    }
    return Error::None;
}

}  // namespace

Error lzStatusError(uint32_t status) {
    if (status & KVN_LZ_STATUS_CUT) {
        std::fprintf(stderr, "error: the device ended an LZ decode loop early (loop budget); output incomplete\n");
        return Error::GpuPipelineFailed;
    }
    if (status & KVN_LZ_STATUS_UNWRITTEN) return Error::BadChunkHeader;
    return Error::None;
}

uint8_t fillByteFromText(const char* text) {
    int base = 10;
    const char* digits = text;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16, digits = text + 2;
    else if (text[0] == '0' && (text[1] == 'o' || text[1] == 'O')) base = 8, digits = text + 2;
    else if (text[0] == '0' && (text[1] == 'b' || text[1] == 'B')) base = 2, digits = text + 2;
    if (*digits == '\0') return 0xAA;
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits, &end, base);
    if (*end != '\0' || value > 0xFF || *digits == '-' || *digits == '+') return 0xAA;
    return uint8_t(value);
}

LzLaunchArgs lzLaunchArgs(const BatchBuffers& batch, const LzDispatch& lz) {
    return {
        .payload = batch.payload_buf,
        .descs = batch.desc_buf,
        .descs_off = 0,
        .destination = lz.destination,
        .chunk_count = lz.chunk_count_buf,
        .status = lz.status,
        .chunks_per_item = lz.chunks_per_item,
        .subchunk_size = lz.subchunk_size,
        .dict_address = lz.dict_address,
        .dict_len = lz.dict_len,
        .payload_end = lz.payload_end,
        .output_length = lz.output_length,
    };
}

std::optional<LzKernelChoice> rawLzKernel(bool large_chunks) {
    const bool cuda = kernelsTakeCudaForms();
    if (cuda ? !envPresent("KVN_NO_PIPELINE") : envPresent("KVN_VK_PIPELINE")) {
        if (cuda && large_chunks) {
            if (auto big = getKernelHandle(&DecodeKernelHandles::kernel_raw_pipeline_big_fn))
                return LzKernelChoice{*big, "kvnLzDecodeRawPipelinedKernel", true};
        } else if (auto pipelined = getKernelHandle(&DecodeKernelHandles::kernel_raw_pipeline_fn)) {
            return LzKernelChoice{*pipelined, "kvnLzDecodeRawPipelinedKernel", true};
        }
    }
    if (auto plain = getKernelHandle(&DecodeKernelHandles::kernel_raw_fn))
        return LzKernelChoice{*plain, "kvnLzDecodeRawKernel", false};
    return std::nullopt;
}

std::optional<LzKernelChoice> generalLzKernel() {
    if (kernelsTakeCudaForms() && !envPresent("KVN_NO_PIPELINE")) {
        if (auto pipelined = getKernelHandle(&DecodeKernelHandles::kernel_general_pipeline_fn))
            return LzKernelChoice{*pipelined, "kvnLzDecodeGeneralPipelinedKernel", false};
    }
    if (auto plain = getKernelHandle(&DecodeKernelHandles::kernel_fn)) return LzKernelChoice{*plain, "kvnLzDecodeKernel", false};
    return std::nullopt;
}

LzResult dispatchLzDecode(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream,
                          const LzDispatch& lz) {
    // The LZ decode reads the stored off16 halves.
    if (Error e = joinGather(decoder, stream); e != Error::None) return {0, e};
    if (lz.chunk_count == 0) return {0, Error::None};
    const double start = lz.split_timer ? hostTimeMs() : 0.0;
    const uint32_t items = uint32_t((uint64_t(lz.chunk_count) + lz.chunks_per_item - 1) / lz.chunks_per_item);
    // One work item walking the whole batch (chunks that may read each
    // other, in order) goes in windows of consecutive dispatches on Vulkan
    // (lavapipe's loop budget). A CUDA block runs two such work items, so a
    // window of one would let the next window's chunks run beside it; the
    // CUDA forms have no loop budget and walk the batch in one launch.
    const bool windowed = lz.host_descs && items == 1 && lz.chunk_count > kLzWindowStep && !kernelsTakeCudaForms();
    const LzLaunchArgs args = lzLaunchArgs(batch, lz);

    const std::optional<LzKernelChoice> raw = lz.huffman_streams == 0 ? rawLzKernel(lz.large_chunks) : std::nullopt;
    Error error = Error::None;
    bool leaves_hashed = false;
    if (raw) {
        const auto launch = [&](uint32_t first, uint32_t per_item, uint32_t launch_groups) {
            KernelCall call(raw->kernel, launch_groups);
            LzLaunchArgs window = args;
            window.descs_off = uint64_t(first) * sizeof(KvnChunkDesc);
            window.chunks_per_item = per_item;
            addRawLzArguments(call, window, raw->pipelined_raw, raw->pipelined_raw ? lz.leaf_hashes : 0);
            return call.launch(decoder, stream, raw->label);
        };
        error = windowed ? launchWindows(lz, stream, launch) : launch(0, lz.chunks_per_item, lzWorkgroups(items));
        leaves_hashed = raw->pipelined_raw && lz.leaf_hashes != 0 && kernelsTakeCudaForms();
    } else {
        const std::optional<LzKernelChoice> general = generalLzKernel();
        if (!general) return {0, Error::KernelMissing};
        // Without decoded streams the kernel gets no scratch (a Huffman-coded
        // stream then yields nothing) and an offsets table it does not read.
        uint64_t scratch = 0;
        if (lz.huffman_streams > 0) {
            scratch = bufferDeviceAddress(slotHandle(decoder, kEntropyScratch));
            if (scratch == 0) return {0, Error::BackendNotAvailable};
        } else if (Error e = ensureDeviceSlot(decoder, kScratchOffsets, 16); e != Error::None) {
            return {0, e};
        }
        if (Error e = ensureDeviceSlot(decoder, kLzDiag, kLzDiagBytes); e != Error::None) return {0, e};
        const GpuOpsTable& ops = gpuOps();
        if (envPresent("KVN_DIAG_DUMP") && ops.memsetD8) ops.memsetD8(slotHandle(decoder, kLzDiag), 0, kLzDiagBytes);
        if (Error e = fillDestination(lz); e != Error::None) return {0, e};
        if (Error e = runStageDumps(decoder, batch, stream); e != Error::None) return {0, e};
        const auto launch = [&](uint32_t first, uint32_t per_item, uint32_t launch_groups) {
            KernelCall call(general->kernel, launch_groups);
            LzLaunchArgs window = args;
            window.descs_off = uint64_t(first) * sizeof(KvnChunkDesc);
            window.chunks_per_item = per_item;
            const LzScratchArgs streams{
                .scratch = scratch,
                .token_off = batch.tok_region_off,
                .off16_off = batch.off16_region_off,
                .first_subchunk = slotHandle(decoder, kSubchunkStarts),
                .first_subchunk_off = uint64_t(first) * 4,
                .scratch_offsets = slotHandle(decoder, kScratchOffsets),
            };
            KVN_TRY(addGeneralLzArguments(call, window, streams));
            return call.launch(decoder, stream, general->label);
        };
        error = windowed ? launchWindows(lz, stream, launch) : launch(0, lz.chunks_per_item, lzWorkgroups(items));
        if (error == Error::None) {
            if (const char* path = envText("KVN_DIAG_DUMP")) {
                if (Error e = writeLzDiagnostics(decoder, stream, path); e != Error::None) return {0, e};
            }
        }
    }
    if (error != Error::None) return {0, error};
    if (!lz.split_timer) return {0, Error::None, leaves_hashed};
    const GpuOpsTable& ops = gpuOps();
    if (Error e = checkSync(ops.streamSynchronize ? ops.streamSynchronize(stream) : Error::BackendNotAvailable); e != Error::None)
        return {0, e};
    return {uint64_t((hostTimeMs() - start) * 1e6), Error::None, leaves_hashed};
}

}  // namespace kvn
