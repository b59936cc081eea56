#include "pipeline/decode/wrt_frame_decode.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "core/platform/platform.h"
#include "core/wrt/wrt_decode.h"
#include "core/wrt/wrt_format.h"
#include "pipeline/decode/wrt_decode_fused.h"

namespace kvn {
namespace {

constexpr uint64_t kMaxWrtSize = uint64_t{1} << 32;

// Frees the parsed section's tables on every exit.
struct ParsedSection {
    WrtDecodeState state;
    ~ParsedSection() { freeWrtDecodeState(&state); }
};

}  // namespace

FrameResult decodeWrtFrame(const FrameHeader& header, const uint8_t* frame, uint64_t frame_len, uint8_t* dst,
                           uint64_t dst_cap, DecoderState& decoder, const OutputTarget& target) {
    const uint64_t section_at = header.wrt_section_offset;
    const uint64_t section_len = header.wrt_section_length;
    if (section_len == 0 || section_at > frame_len || frame_len - section_at < section_len)
        return {0, Error::BadFrame};
    const bool debug = wrtStageTimesWanted();
    double t0 = hostTimeMs();
    ParsedSection parsed;
    if (const Error e = parseSection(frame + section_at, section_len, &parsed.state); e != Error::None) return {0, e};
    if (debug) std::fprintf(stderr, "[wrt-vk-dec] parseSection: %.2f ms\n", hostTimeMs() - t0);
    const WrtDecodeState& state = parsed.state;

    if (!header.has_content_size) return {0, Error::BadFrame};
    const uint64_t inner = header.content_size;
    const uint64_t out = state.decoded_size;
    if (inner > kMaxWrtSize || out > kMaxWrtSize) return {0, Error::ContentSizeTooLarge};
    // The CPU inverse cannot write device memory.
    if (target.on_device) return {0, Error::BadFrame};
    if (dst_cap < out) return {0, Error::OutputTooSmall};
    if (inner > out) return {0, Error::BadFrame};

    // The transformed text; its frame's trailers cover the text after the inverse.
    t0 = hostTimeMs();
    std::unique_ptr<uint8_t[]> transformed(new (std::nothrow) uint8_t[inner ? inner : 1]);
    if (!transformed) return {0, Error::OutOfMemory};
    const FrameResult body = decodeHostFrame(frame, frame_len, transformed.get(), inner, decoder, OutputTarget{},
                                             TrailerChecks::LeaveToCaller);
    if (body.error != Error::None) return body;
    if (body.bytes != inner) return {0, Error::BadFrame};
    if (debug) std::fprintf(stderr, "[wrt-vk-dec] LZ decode (device-target): %.2f ms\n", hostTimeMs() - t0);

    t0 = hostTimeMs();
    // A trailer that cannot be read is the trailer step's to report.
    MerkleTrailer trailer = readMerkleTrailer(header.has_merkle_root, header.sc_group_size, frame, frame_len);
    if (trailer.error != Error::None) trailer = MerkleTrailer{};
    const WrtFusedResult fused = wrtDecodeFused(state, decoder, transformed.get(), inner, dst, out, trailer);
    if (fused.error != Error::None) return {0, fused.error};
    if (fused.applied && debug) std::fprintf(stderr, "[wrt-vk-dec] fused+D2H: %.2f ms\n", hostTimeMs() - t0);
    // The CPU decoder checks every token: a stream the GPU could not invert is corrupt or it is not.
    const uint32_t threads = std::min<uint32_t>(processorCount(), 16);
    if (!fused.applied && wrtDecodeCpu(state, transformed.get(), inner, dst, out, threads) != Error::None)
        return {0, Error::BadFrame};
    const Error trailers = checkFrameTrailers(header, frame, frame_len, dst, out, decoder, fused.verdict);
    if (trailers != Error::None) return {0, trailers};
    return {out, Error::None};
}

}  // namespace kvn
