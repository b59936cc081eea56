#include "pipeline/decode/wrt_decode_fused.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "core/platform/platform.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/decode/wrt_merkle.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint64_t kRegionAlign = 256;
// One workgroup per segment: every Vulkan device takes this many in x.
constexpr uint64_t kMaxSegmentGroups = 65535;
constexpr uint64_t kU32Limit = uint64_t{1} << 32;
constexpr uint32_t kSegmentFault = 0xFFFFFFFFu;

uint64_t roundUp(uint64_t x) { return (x + kRegionAlign - 1) / kRegionAlign * kRegionAlign; }

WrtFusedResult notApplied() { return {}; }
WrtFusedResult failed(Error e) { return {false, e}; }

}  // namespace

bool wrtStageTimesWanted() { return decodeDiagnostics().stage_timing_lines && envPresent("KVN_WRT_DEBUG"); }

Error buildWrtFusedTables(const WrtDecodeState& state, uint64_t inner, WrtFusedTables* tables) {
    *tables = WrtFusedTables{};
    const uint64_t k = state.segment_count;
    const uint64_t words = state.word_count ? state.word_count : 1;
    tables->region = roundUp(4 * k);
    tables->words_at = roundUp(3 * tables->region + words);
    tables->produced_at = roundUp(tables->words_at + uint64_t{32} * words);
    tables->size = tables->produced_at + (4 * k ? 4 * k : 4);
    tables->blob.reset(new (std::nothrow) uint8_t[tables->size]());
    if (!tables->blob) return Error::OutOfMemory;
    uint8_t* blob = tables->blob.get();

    uint64_t encoded = 0, decoded = 0;
    for (uint64_t s = 0; s < k; ++s) {
        const WrtSegment seg = state.segment(s);
        const uint32_t offsets[2] = {uint32_t(encoded), uint32_t(decoded)};
        const uint32_t length = seg.encoded_length;
        std::memcpy(blob + 4 * s, &offsets[0], 4);
        std::memcpy(blob + tables->region + 4 * s, &length, 4);
        std::memcpy(blob + 2 * tables->region + 4 * s, &offsets[1], 4);
        encoded += seg.encoded_length;
        decoded += seg.decoded_length;
        if (encoded >= kU32Limit || decoded >= kU32Limit) return Error::None;
    }
    if (encoded != inner || decoded != state.decoded_size) return Error::None;
    for (uint64_t i = 0; i < state.word_count; ++i) {
        const uint8_t length = state.word_lengths[i];
        blob[3 * tables->region + i] = length;
        std::memcpy(blob + tables->words_at + 32 * i, state.words + state.word_offsets[i], length);
    }
    tables->fits = true;
    return Error::None;
}

Error wrtInverseOnDevice(const WrtDecodeState& state, DecoderState& decoder, DeviceBufferHandle trans, uint64_t inner,
                         DeviceBufferHandle output, uint64_t out) {
    const bool debug = wrtStageTimesWanted();
    const std::optional<KernelHandle> kernel = getKernelHandle(&DecodeKernelHandles::wrt_decode_fused_fn);
    if (!kernel) return Error::KernelMissing;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD || !ops.memcpyDtoHSrcOffset || !ops.launchKernel || !ops.ctxSynchronize)
        return Error::BackendNotAvailable;
    const uint64_t k = state.segment_count;
    const uint64_t alignment = deviceBindingAlignment();
    if (k > kMaxSegmentGroups || alignment == 0 || kRegionAlign % alignment != 0) return Error::BadMode;

    double t0 = hostTimeMs();
    WrtFusedTables tables;
    KVN_TRY(buildWrtFusedTables(state, inner, &tables));
    // No segments, or sums other than the frame's: the section does not describe this text.
    if (k == 0 || !tables.fits) return Error::BadFrame;
    if (debug)
        std::fprintf(stderr, "[wrt-vk-dec] meta build (CPU): %.2f ms (%llu B)\n", hostTimeMs() - t0,
                     static_cast<unsigned long long>(tables.size));

    KVN_TRY(ensureDeviceSlot(decoder, kWrtMeta, tables.size));
    const DeviceBufferHandle meta = slotHandle(decoder, kWrtMeta);
    t0 = hostTimeMs();
    if (ops.memcpyHtoD(meta, tables.blob.get(), tables.size) != Error::None) return Error::CopyFailed;
    if (debug)
        std::fprintf(stderr, "[wrt-vk-dec] meta H2D: %.2f ms; launching fused over d_trans\n", hostTimeMs() - t0);

    t0 = hostTimeMs();
    KernelCall call(*kernel, uint32_t(k));
    call.buffer(trans).buffer(meta, 0).buffer(meta, tables.region).buffer(meta, 2 * tables.region);
    call.buffer(meta, 3 * tables.region).buffer(meta, tables.words_at).buffer(output).buffer(meta, tables.produced_at);
    call.word(uint32_t(state.word_count)).word(uint32_t(k)).word(uint32_t(out));
    // A launch the device refuses (a binding beyond its range) is a shape it does not take.
    if (call.launch(decoder, 0, "wrt decode") != Error::None) return Error::BadMode;
    KVN_TRY(checkSync(ops.ctxSynchronize()));
    if (debug) std::fprintf(stderr, "[wrt-vk-dec] fused: %.2f ms\n", hostTimeMs() - t0);

    // Each segment must have produced exactly its decoded length.
    const std::unique_ptr<uint32_t[]> produced(new (std::nothrow) uint32_t[k]);
    if (!produced) return Error::OutOfMemory;
    if (ops.memcpyDtoHSrcOffset(produced.get(), meta, 4 * k, tables.produced_at) != Error::None)
        return Error::CopyFailed;
    for (uint64_t s = 0; s < k; ++s) {
        if (produced[s] == kSegmentFault || produced[s] != state.segment(s).decoded_length) return Error::BadFrame;
    }
    return Error::None;
}

WrtFusedResult wrtDecodeFused(const WrtDecodeState& state, DecoderState& decoder, const uint8_t* transformed,
                              uint64_t inner, uint8_t* dst, uint64_t out, const MerkleTrailer& trailer) {
    if (!getKernelHandle(&DecodeKernelHandles::wrt_decode_fused_fn)) {
        if (wrtStageTimesWanted()) std::fprintf(stderr, "[wrt-vk-dec] fused pipeline missing -> CPU\n");
        return notApplied();
    }
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD || !ops.memcpyDtoH) return notApplied();
    if (const Error e = ensureDeviceSlot(decoder, kWrtTransformed, inner ? inner : 1); e != Error::None) return failed(e);
    if (const Error e = ensureDeviceSlot(decoder, kWrtOutput, out ? out : 1); e != Error::None) return failed(e);
    const DeviceBufferHandle trans = slotHandle(decoder, kWrtTransformed);
    const DeviceBufferHandle output = slotHandle(decoder, kWrtOutput);
    if (inner && ops.memcpyHtoD(trans, transformed, inner) != Error::None) return failed(Error::CopyFailed);
    switch (const Error e = wrtInverseOnDevice(state, decoder, trans, inner, output, out)) {
        case Error::None:
            break;
        // The CPU decoder checks every token: it decides whether the stream is corrupt.
        case Error::KernelMissing:
        case Error::BackendNotAvailable:
        case Error::BadMode:
        case Error::BadFrame:
            return notApplied();
        default:
            return failed(e);
    }
    int32_t verdict = kVerdictNone;
    if (const Error e = judgeWrtText(decoder, trailer, output, out, &verdict); e != Error::None) return failed(e);
    if (out && ops.memcpyDtoH(dst, output, out) != Error::None) return failed(Error::CopyFailed);
    return {true, Error::None, verdict};
}

}  // namespace kvn
