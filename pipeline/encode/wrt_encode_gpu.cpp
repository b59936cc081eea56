#include "pipeline/encode/wrt_encode_gpu.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <memory>
#include <new>
#include <vector>

#include "core/format/size_math.h"
#include "core/platform/platform.h"
#include "core/wrt/word_selection.h"
#include "core/wrt/wrt_encode.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/encode_launch.h"
#include "pipeline/encode/encoder_buffers.h"
#include "pipeline/encode/frame_source.h"
#include "pipeline/encode/wrt_encode_debug.h"

namespace kvn {
namespace {

std::atomic<uint64_t> g_wrt_gpu_ns{0};

// Counter words (u32 indices) of the kernels' counters buffer.
constexpr uint64_t kDroppedAt = 0;
constexpr uint64_t kWalkedAt = 2;
constexpr uint64_t kSlotsWalkedAt = 3;
constexpr uint64_t kAssignedAt = 4;
constexpr uint64_t kGatheredAt = 5;
constexpr uint64_t kCandidatesAt = 64;
constexpr uint64_t kOverflowsAt = 128;
constexpr uint64_t kCounterBytes = 1024;
constexpr uint32_t kCandidateCap = 0x80000;
constexpr uint32_t kWordSlotBytes = 32;
constexpr uint32_t kMinTableBits = 16;
constexpr uint32_t kMaxTableBits = 23;  // 0x400000 records, as the CPU table
constexpr uint64_t kMaxGpuInput = 0x80000000;
// The gather runs one group per segment; every Vulkan device takes this many.
constexpr uint64_t kMaxSegments = 65535;
// One text position or slot per thread as far as the grid allows: lavapipe
// counts a workgroup's loop steps together, and the kernels report a cut.
constexpr uint32_t kMaxBlocks = 65535;
constexpr uint32_t kNeverWritten = 0xFFFFFFFFu;
constexpr EncodeKernelShape kWideShape{256, false};
constexpr EncodeKernelShape kEncodeShape{32, false};
constexpr EncodeKernelShape kGatherShape{128, false};

bool wrtPipelinesBuilt() {
    const EncodeKernelHandles& k = encodeKernels();
    return k.wrt_count_fn && k.wrt_compact_fn && k.wrt_assign_fn && k.wrt_encode_fn && k.wrt_gather_fn;
}

// Slots for at least twice the words an n-byte text can hold (a word takes
// three letters and a separator), so the table stays half full and no word
// is dropped that the CPU table would count.
uint32_t tableBits(uint64_t n) {
    uint32_t bits = kMinTableBits;
    while (bits < kMaxTableBits && (uint64_t{1} << (bits - 1)) < n / 4 + 2) ++bits;
    return bits;
}

// Why the GPU road stopped.
enum class Stop : uint8_t { NotApplied, Failed };

struct Run {
    EncoderState& encoder;
    const GpuOpsTable& ops;
    bool debug;
    uint64_t gpu_ns = 0;

    DeviceBufferHandle buffer(EncoderBuffer which) { return encoderBuffer(encoder, which).handle; }
    bool sync() { return ops.ctxSynchronize() == Error::None; }
    bool launch(const char* label, KernelHandle kernel, EncodeKernelShape shape, uint32_t blocks,
                std::initializer_list<DeviceBufferHandle> buffers, std::initializer_list<uint32_t> words) {
        return launchEncodeKernel(&encoder, label, kernel, shape, blocks, buffers, words) == Error::None && sync();
    }
    bool readU32(EncoderBuffer which, uint64_t index, uint32_t* value) {
        return ops.memcpyDtoHSrcOffset(value, buffer(which), 4, 4 * index) == Error::None;
    }
    void addTime(double start_ms) { gpu_ns += uint64_t((hostTimeMs() - start_ms) * 1e6); }
};

struct Candidates {
    std::unique_ptr<uint8_t[]> lengths;
    std::unique_ptr<uint8_t[]> words;
    std::unique_ptr<uint32_t[]> counts;
};

bool readCandidates(Run& run, uint32_t c, Candidates* out) {
    std::unique_ptr<uint32_t[]> lengths(new (std::nothrow) uint32_t[c]);
    out->lengths.reset(new (std::nothrow) uint8_t[c]);
    out->words.reset(new (std::nothrow) uint8_t[uint64_t{kWordSlotBytes} * c]);
    out->counts.reset(new (std::nothrow) uint32_t[c]);
    if (!lengths || !out->lengths || !out->words || !out->counts) return false;
    if (run.ops.memcpyDtoH(lengths.get(), run.buffer(kWrtCandidateLengths), 4 * uint64_t{c}) != Error::None ||
        run.ops.memcpyDtoH(out->words.get(), run.buffer(kWrtCandidateWords), uint64_t{kWordSlotBytes} * c) != Error::None ||
        run.ops.memcpyDtoH(out->counts.get(), run.buffer(kWrtCandidateCounts), 4 * uint64_t{c}) != Error::None)
        return false;
    for (uint32_t i = 0; i < c; ++i) out->lengths[i] = uint8_t(lengths[i]);
    return true;
}

// The transform of text[0, n) into result; the stop reason otherwise.
std::optional<Stop> transform(Run& run, const uint8_t* text, uint64_t n, WrtEncodeResult* result) {
    const EncodeKernelHandles& k = encodeKernels();
    const uint64_t segments = ceilDiv(n, uint64_t{WRT_SEGMENT_SIZE});
    if (n > kMaxGpuInput || segments > kMaxSegments) return Stop::Failed;
    const uint32_t bits = tableBits(n);
    const uint64_t slots = uint64_t{1} << bits;
    const uint64_t records = slots / 2;
    const uint64_t areas = segments * kWrtSegmentArea;
    // Every binding is one whole buffer: one larger than the device lets a
    // binding reach would fail its launch, so the CPU road takes the frame.
    const uint64_t largest = std::max({n, areas, records * kWordSlotBytes, slots * 4});
    if (largest > deviceBindingLimit()) return Stop::Failed;
    if (ensureEncodeDeviceBuffers({{&encoderBuffer(run.encoder, kWrtText), n},
                                   {&encoderBuffer(run.encoder, kWrtSlots), slots * 4},
                                   {&encoderBuffer(run.encoder, kWrtRecordLengths), records * 4},
                                   {&encoderBuffer(run.encoder, kWrtRecordWords), records * kWordSlotBytes},
                                   {&encoderBuffer(run.encoder, kWrtRecordCounts), records * 4},
                                   {&encoderBuffer(run.encoder, kWrtCounters), kCounterBytes},
                                   {&encoderBuffer(run.encoder, kWrtCandidateLengths), uint64_t{kCandidateCap} * 4},
                                   {&encoderBuffer(run.encoder, kWrtCandidateWords), uint64_t{kCandidateCap} * kWordSlotBytes},
                                   {&encoderBuffer(run.encoder, kWrtCandidateCounts), uint64_t{kCandidateCap} * 4},
                                   {&encoderBuffer(run.encoder, kWrtCodeMap), slots * 4},
                                   {&encoderBuffer(run.encoder, kWrtAreas), areas},
                                   {&encoderBuffer(run.encoder, kWrtEncodedLengths), segments * 4},
                                   {&encoderBuffer(run.encoder, kWrtDecodedLengths), segments * 4},
                                   {&encoderBuffer(run.encoder, kWrtOffsets), segments * 4}}) != Error::None)
        return Stop::Failed;
    if (run.debug) printWrtBuffersEnsured(segments);

    double start = hostTimeMs();
    if (copySourceToDevice(text, n, run.encoder, run.buffer(kWrtText)) != Error::None) return Stop::Failed;
    if (run.debug) printWrtRawH2d(hostTimeMs() - start);
    if (run.ops.memsetD8(run.buffer(kWrtSlots), 0, slots * 4) != Error::None ||
        run.ops.memsetD8(run.buffer(kWrtCounters), 0, kCounterBytes) != Error::None ||
        run.ops.memsetD8(run.buffer(kWrtRecordLengths), 0, records * 4) != Error::None ||
        run.ops.memsetD8(run.buffer(kWrtRecordCounts), 0, records * 4) != Error::None ||
        run.ops.memsetD8(run.buffer(kWrtCodeMap), 0, slots * 4) != Error::None)
        return Stop::Failed;

    // Count, then compact the words worth a code.
    if (run.debug) printWrtLaunchingCount();
    const uint32_t count_blocks = uint32_t(std::min<uint64_t>(kMaxBlocks, ceilDiv(n, uint64_t{256})));
    if (!run.launch("kvnWrtCountKernel", k.wrt_count_fn, kWideShape, count_blocks,
                    {run.buffer(kWrtText), run.buffer(kWrtSlots), run.buffer(kWrtRecordLengths),
                     run.buffer(kWrtRecordWords), run.buffer(kWrtRecordCounts), run.buffer(kWrtCounters)},
                    {uint32_t(n), bits}))
        return Stop::Failed;
    if (run.debug) printWrtCountDone();
    // Every position walked (lavapipe silently ends invocations whose loops
    // run too long) and every word counted.
    uint32_t dropped = 0, walked = 0;
    if (!run.readU32(kWrtCounters, kDroppedAt, &dropped) || dropped != 0) return Stop::Failed;
    if (!run.readU32(kWrtCounters, kWalkedAt, &walked) || walked != n) return Stop::Failed;
    if (run.debug) printWrtLaunchingCompact();
    const uint32_t compact_blocks = uint32_t(std::min<uint64_t>(kMaxBlocks, slots / 256));
    if (!run.launch("kvnWrtCompactKernel", k.wrt_compact_fn, kWideShape, compact_blocks,
                    {run.buffer(kWrtSlots), run.buffer(kWrtRecordLengths), run.buffer(kWrtRecordWords),
                     run.buffer(kWrtRecordCounts), run.buffer(kWrtCounters), run.buffer(kWrtCandidateLengths),
                     run.buffer(kWrtCandidateWords), run.buffer(kWrtCandidateCounts)},
                    {bits, kCandidateCap}))
        return Stop::Failed;
    if (run.debug) {
        printWrtCompactDone();
        printWrtCountCompactTime(hostTimeMs() - start);
    }
    run.addTime(start);

    uint32_t c = 0, slots_walked = 0;
    if (!run.readU32(kWrtCounters, kSlotsWalkedAt, &slots_walked) || slots_walked != slots) return Stop::Failed;
    if (!run.readU32(kWrtCounters, kCandidatesAt, &c)) return Stop::Failed;
    if (run.debug) printWrtCandidateCount(c);
    if (c == 0) return Stop::NotApplied;
    if (c > kCandidateCap) return Stop::Failed;
    Candidates candidates;
    if (!readCandidates(run, c, &candidates)) return Stop::Failed;
    if (run.debug) printWrtCandidates(c, candidates.lengths.get(), candidates.counts.get());
    WrtSelection selection;
    if (selectWrtWordsFromCandidates(candidates.lengths.get(), candidates.words.get(), candidates.counts.get(), c,
                                     &selection) != Error::None)
        return Stop::Failed;
    const uint32_t codes = selection.word_count;
    if (codes == 0) return Stop::NotApplied;

    // The chosen words in code order, marked in the table; then the segments.
    std::vector<uint32_t> code_lengths(codes);
    std::vector<uint8_t> code_words(uint64_t{codes} * kWordSlotBytes);
    for (uint32_t i = 0; i < codes; ++i) {
        const uint32_t from = selection.indices[i];
        code_lengths[i] = candidates.lengths[from];
        std::memcpy(&code_words[uint64_t{i} * kWordSlotBytes], &candidates.words[uint64_t{from} * kWordSlotBytes],
                    kWordSlotBytes);
    }
    if (ensureEncodeDeviceBuffers({{&encoderBuffer(run.encoder, kWrtCodeLengths), uint64_t{codes} * 4},
                                   {&encoderBuffer(run.encoder, kWrtCodeWords), code_words.size()}}) != Error::None ||
        run.ops.memcpyHtoD(run.buffer(kWrtCodeLengths), code_lengths.data(), uint64_t{codes} * 4) != Error::None ||
        run.ops.memcpyHtoD(run.buffer(kWrtCodeWords), code_words.data(), code_words.size()) != Error::None)
        return Stop::Failed;
    start = hostTimeMs();
    if (run.debug) printWrtLaunchingAssign(codes);
    if (!run.launch("kvnWrtAssignKernel", k.wrt_assign_fn, kWideShape, uint32_t(ceilDiv(codes, 256u)),
                    {run.buffer(kWrtCodeLengths), run.buffer(kWrtCodeWords), run.buffer(kWrtSlots),
                     run.buffer(kWrtRecordLengths), run.buffer(kWrtRecordWords), run.buffer(kWrtCodeMap),
                     run.buffer(kWrtCounters)},
                    {codes, bits}))
        return Stop::Failed;
    uint32_t assigned = 0;
    if (!run.readU32(kWrtCounters, kAssignedAt, &assigned) || assigned != codes) return Stop::Failed;
    // A segment whose lengths stay as cleared was never encoded.
    if (run.ops.memsetD8(run.buffer(kWrtEncodedLengths), 0xFF, segments * 4) != Error::None ||
        run.ops.memsetD8(run.buffer(kWrtDecodedLengths), 0xFF, segments * 4) != Error::None)
        return Stop::Failed;
    if (run.debug) printWrtLaunchingEncode();
    if (!run.launch("kvnWrtEncodeKernel", k.wrt_encode_fn, kEncodeShape, uint32_t(segments),
                    {run.buffer(kWrtText), run.buffer(kWrtSlots), run.buffer(kWrtRecordLengths),
                     run.buffer(kWrtRecordWords), run.buffer(kWrtCodeMap), run.buffer(kWrtAreas),
                     run.buffer(kWrtEncodedLengths), run.buffer(kWrtDecodedLengths), run.buffer(kWrtCounters)},
                    {uint32_t(n), bits, selection.one_byte_count, uint32_t(segments)}))
        return Stop::Failed;
    if (run.debug) {
        printWrtEncodeDone();
        printWrtAssignEncodeTime(hostTimeMs() - start);
    }
    run.addTime(start);

    uint32_t overflows = 0;
    if (!run.readU32(kWrtCounters, kOverflowsAt, &overflows)) return Stop::Failed;
    if (overflows != 0) return Stop::NotApplied;
    std::vector<uint32_t> encoded(segments), decoded(segments), offsets(segments);
    if (run.ops.memcpyDtoH(encoded.data(), run.buffer(kWrtEncodedLengths), segments * 4) != Error::None ||
        run.ops.memcpyDtoH(decoded.data(), run.buffer(kWrtDecodedLengths), segments * 4) != Error::None)
        return Stop::Failed;
    std::vector<WrtSegment> records_out(segments);
    uint64_t total_encoded = 0, total_decoded = 0;
    for (uint64_t s = 0; s < segments; ++s) {
        if (decoded[s] == kNeverWritten) return Stop::Failed;
        if (encoded[s] > 0xFFFF || decoded[s] > 0xFFFF) return Stop::NotApplied;
        records_out[s] = {uint16_t(encoded[s]), uint16_t(decoded[s])};
        offsets[s] = uint32_t(total_encoded);
        total_encoded += encoded[s];
        total_decoded += decoded[s];
    }
    if (total_decoded != n) return Stop::Failed;
    WrtSectionBlob section;
    if (writeWrtSection(n, selection, candidates.lengths.get(), candidates.words.get(), records_out.data(),
                        uint32_t(segments), &section) != Error::None)
        return Stop::Failed;
    if (total_encoded + section.size >= n) return Stop::NotApplied;

    start = hostTimeMs();
    if (run.ops.memcpyHtoD(run.buffer(kWrtOffsets), offsets.data(), segments * 4) != Error::None ||
        ensureEncodeDeviceBuffer(encoderBuffer(run.encoder, kWrtTransformed), std::max<uint64_t>(total_encoded, 1)) !=
            Error::None)
        return Stop::Failed;
    if (run.debug) printWrtLaunchingGather();
    if (!run.launch("kvnWrtGatherKernel", k.wrt_gather_fn, kGatherShape, uint32_t(segments),
                    {run.buffer(kWrtAreas), run.buffer(kWrtOffsets), run.buffer(kWrtEncodedLengths),
                     run.buffer(kWrtTransformed), run.buffer(kWrtCounters)},
                    {uint32_t(segments)}))
        return Stop::Failed;
    uint32_t gathered = 0;
    if (!run.readU32(kWrtCounters, kGatheredAt, &gathered) || gathered != total_encoded) return Stop::Failed;
    if (run.debug) printWrtGatherTime(hostTimeMs() - start);
    run.addTime(start);

    result->text = run.buffer(kWrtTransformed);
    result->source = run.buffer(kWrtText);
    result->text_size = total_encoded;
    result->section = std::move(section);
    result->elapsed_ns = run.gpu_ns;
    result->ok = true;
    return std::nullopt;
}

}  // namespace

bool wrtEncodeGpu(WrtEncodeResult* result, EncoderState& encoder, const uint8_t* text, uint64_t n, bool* not_applied) {
    *result = WrtEncodeResult{};
    *not_applied = false;
    if (!ensureEncodePipelines() || !wrtPipelinesBuilt()) return false;
    if (n < kWrtMinInput) {
        *not_applied = true;
        return false;
    }
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD || !ops.memcpyDtoH || !ops.memcpyDtoHSrcOffset || !g_enc_launch_kernel ||
        !ops.ctxSynchronize || !ops.memsetD8)
        return false;
    Run run{encoder, ops, wrtEncodeDebugOn()};
    const std::optional<Stop> stop = transform(run, text, n, result);
    if (!stop) {
        g_wrt_gpu_ns += result->elapsed_ns;
        return true;
    }
    *result = WrtEncodeResult{};
    *not_applied = *stop == Stop::NotApplied;
    return false;
}

void freeWrtEncodeResult(WrtEncodeResult* result) {
    result->text = 0;
    result->source = 0;
    result->section = WrtSectionBlob{};
}

uint64_t wrtGpuElapsedNs() { return g_wrt_gpu_ns.load(); }

}  // namespace kvn
