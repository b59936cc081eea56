#include "pipeline/encode/wrt_frame_encode.h"

#include <optional>
#include <span>

#include "core/format/frame_header.h"
#include "core/platform/platform.h"
#include "core/wrt/wrt_encode.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/encode/device_merkle.h"
#include "pipeline/encode/encode_kernels.h"
#include "core/jobs.h"
#include "pipeline/encode/frame_source.h"
#include "pipeline/encode/frame_writer.h"
#include "pipeline/encode/wrt_encode_gpu.h"

namespace kvn {
namespace {

// A transformed text this short would be stored: the CPU road decides instead.
constexpr uint64_t kMinGpuTransformed = 129;

WrtFrameStep wrote(WrittenBytes frame) { return {true, frame}; }

// The frame of a transformed text (its body hashes no Merkle leaves: they
// would not be the caller's bytes). A WRT frame a few bytes over the
// caller's bound (its section grows the header) is dropped for the plain
// frame, which fits.
WrtFrameStep writeWrtFrame(const uint8_t* text, uint64_t size, std::span<const uint8_t> section, uint8_t* dst,
                           uint64_t cap, const EncodeParams& params, EncoderState& encoder) {
    const WrittenBytes frame = encodeFrameGpu(text, size, dst, cap, params, encoder, section);
    if (frame.error == Error::DestinationTooSmall) return {};
    return wrote(frame);
}

enum class GpuRoad : uint8_t { Wrote, Plain, Failed };

struct GpuAttempt {
    GpuRoad road;
    WrtFrameStep step;
};

GpuAttempt gpuRoad(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                   EncoderState& encoder) {
    WrtEncodeResult result;
    bool not_applied = false;
    if (!wrtEncodeGpu(&result, encoder, src, len, &not_applied))
        return {not_applied ? GpuRoad::Plain : GpuRoad::Failed, {}};
    if (result.text_size < kMinGpuTransformed) {
        freeWrtEncodeResult(&result);
        return {GpuRoad::Failed, {}};
    }
    // The caller's bytes are on the device now: the trailer's root is hashed
    // from them there rather than uploaded again.
    if (params.merkle) {
        const std::optional<uint32_t> root =
            computeDeviceMerkleRoot(encoder, result.source, len, frameChunkSize(chunkFraction(params)));
        encoder.source_merkle_root = root.value_or(0);
        encoder.source_merkle_root_present = root.has_value();
    }
    // The frame writer reads the transformed text where the transform left it.
    WrtFrameStep step;
    {
        const ScopedFrameSource transformed(encoder, result.text, 0);
        step = writeWrtFrame(kDeviceSourcePlaceholder, result.text_size,
                             {result.section.bytes.get(), result.section.size}, dst, cap, params, encoder);
    }
    freeWrtEncodeResult(&result);
    return {GpuRoad::Wrote, step};
}

WrtFrameStep cpuRoad(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                     EncoderState& encoder) {
    const HostSource text = hostSourceBytes(src, len, encoder);
    if (text.error != Error::None) return wrote({0, text.error});
    WrtEncodeOutput out;
    if (const Error e = wrtEncodeCpu(text.bytes, len, &out); e != Error::None) return wrote({0, e});
    if (!out.applied) return {};
    // The transformed text is on the host, whatever the caller's source.
    const ScopedFrameSource host_text(encoder, 0, 0);
    return writeWrtFrame(out.text.get(), out.text_size, {out.section.bytes.get(), out.section.size}, dst, cap, params,
                         encoder);
}

bool gpuRoadWanted(const EncodeParams& params) {
    return !params.wrt_force_cpu && !envPresent("KVN_WRT_CPU") && ensureEncodePipelines();
}

}  // namespace

WrtFrameStep encodeWrtFrame(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                            EncoderState& encoder) {
    if (len == 0 || !params.wrt) return {};
    if (gpuRoadWanted(params)) {
        const GpuAttempt gpu = gpuRoad(src, len, dst, cap, params, encoder);
        if (gpu.road == GpuRoad::Wrote) return gpu.step;
        // The GPU found nothing to gain: a plain frame, without the byte-plane step.
        if (gpu.road == GpuRoad::Plain) return wrote(encodeFrameGpu(src, len, dst, cap, params, encoder));
    }
    return cpuRoad(src, len, dst, cap, params, encoder);
}

}  // namespace kvn
