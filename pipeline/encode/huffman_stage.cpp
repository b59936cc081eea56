#include "pipeline/encode/huffman_stage.h"

#include <algorithm>
#include <new>
#include <span>

#include "core/encode/huffman_jobs.h"
#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/encode_launch.h"
#include "pipeline/encode/encode_stream.h"
#include "pipeline/encode/encoder_buffers.h"

namespace kvn {
namespace {

constexpr EncodeKernelShape kHuffScanShape{256, false};
constexpr EncodeKernelShape kHuffStreamShape{32, true};
constexpr uint32_t kTableStride = 256;

uint32_t u32(uint64_t v) { return static_cast<uint32_t>(v); }

// Where every sub-chunk's literal, token and off16 streams lie in its LZ
// output, read on the device from the LZ stage's descriptors and sizes.
Error scanLzStreams(EncoderState& encoder, uint64_t count, std::vector<LzStreamScan>& scans) {
    const std::optional<KernelHandle> scan = getEncodePipeline(&EncodeKernelHandles::huff_scan_fn);
    if (!scan) return Error::KernelMissing;
    try {
        scans.resize(count);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    DeviceBuffer& records = encoderBuffer(encoder, kScanRecords);
    KVN_TRY(ensureEncodeDeviceBuffer(records, count * sizeof(LzStreamScan)));
    KVN_TRY(ensureEncodeStream(encoder));
    EncodeStretch stretch(encoder);
    KVN_TRY(launchEncodeKernelOn(stretch.stream(), nullptr, "kvnHuffScanStreamsKernel", *scan, kHuffScanShape,
                                 u32((count + 255) / 256),
                                 {encoderBuffer(encoder, kLzOutput).handle, encoderBuffer(encoder, kDescBuffer).handle,
                                  encoderBuffer(encoder, kLzSizes).handle, records.handle},
                                 {u32(count)}));
    KVN_TRY(stretch.read(scans.data(), records.handle, count * sizeof(LzStreamScan)));
    return stretch.wait();
}

// The table builder, then the encoder, over one batch of jobs whose coded
// streams go to `output`; the coded sizes come back (0: not coded).
Error huffEncodeBatch(EncoderState& encoder, std::span<const HuffEncodeDesc> jobs, uint64_t output_bytes,
                      DeviceBuffer& output, std::vector<uint32_t>& sizes, const char* build_label,
                      const char* encode_label) {
    const std::optional<KernelHandle> build = getEncodePipeline(&EncodeKernelHandles::huff_build_tables_fn);
    const std::optional<KernelHandle> encode = getEncodePipeline(&EncodeKernelHandles::huff_encode_fn);
    if (!build || !encode) return Error::KernelMissing;
    // The phases' boundaries, for the library's report.
    double marks[kHuffBatchPhases + 1];
    marks[0] = hostTimeMs();
    const uint64_t n = jobs.size();
    const uint32_t width = huffLaneWidth(jobs);
    try {
        sizes.assign(n, 0);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    DeviceBuffer& descs = encoderBuffer(encoder, kHuffJobs);
    DeviceBuffer& lengths = encoderBuffer(encoder, kHuffLengths);
    DeviceBuffer& codes = encoderBuffer(encoder, kHuffCodes);
    DeviceBuffer& scratch = encoderBuffer(encoder, kHuffLaneScratch);
    DeviceBuffer& coded_sizes = encoderBuffer(encoder, kHuffSizes);
    KVN_TRY(ensureEncodeDeviceBuffers({{&descs, n * sizeof(HuffEncodeDesc)},
                                       {&lengths, kTableStride * n},
                                       {&codes, 4 * kTableStride * n},
                                       {&scratch, uint64_t(KVN_HUFF_LANES) * width * n},
                                       {&coded_sizes, 4 * n},
                                       {&output, output_bytes}}));
    marks[1] = hostTimeMs();
    KVN_TRY(ensureEncodeStream(encoder));
    EncodeStretch stretch(encoder);
    KVN_TRY(stretch.upload(descs.handle, jobs.data(), n * sizeof(HuffEncodeDesc)));
    marks[2] = hostTimeMs();
    const DeviceBufferHandle lz_output = encoderBuffer(encoder, kLzOutput).handle;
    KVN_TRY(launchEncodeKernelOn(stretch.stream(), &encoder, build_label, *build, kHuffStreamShape, u32(n),
                                 {lz_output, descs.handle, lengths.handle, codes.handle}, {kTableStride, u32(n)}));
    KVN_TRY(launchEncodeKernelOn(stretch.stream(), &encoder, encode_label, *encode, kHuffStreamShape, u32(n),
                                 {lz_output, descs.handle, lengths.handle, codes.handle, scratch.handle, output.handle,
                                  coded_sizes.handle},
                                 {width, kTableStride, u32(n)}));
    KVN_TRY(stretch.read(sizes.data(), coded_sizes.handle, 4 * n));
    marks[3] = hostTimeMs();
    // The upload and the read-back run inside the one wait.
    KVN_TRY(stretch.wait());
    marks[4] = hostTimeMs();
    marks[5] = marks[4];
    double phases[kHuffBatchPhases];
    for (uint32_t i = 0; i < kHuffBatchPhases; ++i) phases[i] = marks[i + 1] - marks[i];
    uint32_t largest = 0;
    for (const HuffEncodeDesc& j : jobs) largest = std::max(largest, j.count);
    reportHuffmanBatch(n, largest, phases);
    return Error::None;
}

// One batch of jobs into the kind's results; the results stay empty unless
// every step succeeds.
void codeKind(EncoderState& encoder, HuffStreamKind kind, const std::vector<HuffEncodeDesc>& jobs,
              uint64_t output_bytes, EncoderBuffer output, const char* build_label, const char* encode_label,
              std::vector<uint32_t>& offsets, std::vector<uint32_t>& sizes) {
    // Output offsets are 32-bit; nothing to code leaves the kind raw too.
    if (output_bytes == 0 || output_bytes > UINT32_MAX) return;
    std::vector<uint32_t> coded;
    if (huffEncodeBatch(encoder, jobs, output_bytes, encoderBuffer(encoder, output), coded, build_label,
                        encode_label) != Error::None)
        return;
    const DeviceBuffer& lz_output = encoderBuffer(encoder, kLzOutput);
    dumpCodedStreams(lz_output.handle, lz_output.capacity, jobs.data(), coded.data(), jobs.size(), kind);
    try {
        offsets.resize(jobs.size());
    } catch (const std::bad_alloc&) {
        return;
    }
    for (size_t i = 0; i < jobs.size(); ++i) offsets[i] = jobs[i].out_off;
    sizes = std::move(coded);
}

// The literal or token streams of every sub-chunk as one batch.
void huffEncodeStream(EncoderState& encoder, std::span<const LzStreamScan> scans, HuffKind kind,
                      EncoderBuffer output, const char* build_label, const char* encode_label,
                      std::vector<uint32_t>& offsets, std::vector<uint32_t>& sizes) {
    std::vector<HuffEncodeDesc> jobs;
    try {
        const uint64_t bytes = streamJobs(scans, kind, jobs);
        codeKind(encoder, kind == HuffKind::Literals ? kHuffLiteralStreams : kHuffTokenStreams, jobs, bytes, output,
                 build_label, encode_label, offsets, sizes);
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

void runHuffmanStage(EncoderState& encoder, uint64_t sub_chunks, HuffmanResults& results) {
    for (uint32_t k = 0; k < kHuffStreamKinds; ++k) {
        results.offsets[k].clear();
        results.sizes[k].clear();
    }
    // Scanned for this frame only: the records depend on its LZ output.
    std::vector<LzStreamScan> scans;
    if (sub_chunks == 0 || scanLzStreams(encoder, sub_chunks, scans) != Error::None) return;
    huffEncodeStream(encoder, scans, HuffKind::Literals, kHuffLiterals, "huff-lit/build", "huff-lit/encode",
                     results.offsets[kHuffLiteralStreams], results.sizes[kHuffLiteralStreams]);
    huffEncodeStream(encoder, scans, HuffKind::Tokens, kHuffTokens, "huff-tok/build", "huff-tok/encode",
                     results.offsets[kHuffTokenStreams], results.sizes[kHuffTokenStreams]);
    try {
        std::vector<HuffEncodeDesc> jobs;
        const uint64_t bytes = off16Jobs(scans, jobs);
        codeKind(encoder, kHuffOff16Streams, jobs, bytes, kHuffOff16, "huff-off16/build", "huff-off16/encode",
                 results.offsets[kHuffOff16Streams], results.sizes[kHuffOff16Streams]);
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace kvn
