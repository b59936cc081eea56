#include "pipeline/encode/frame_planner.h"

#include "core/dict/dictionary_lookup.h"
#include "core/encode/frame_geometry.h"
#include "core/encode/frame_limits.h"
#include "core/encode/level_table.h"
#include "core/format/compress_bound.h"
#include "core/format/frame_header.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/frame_encode.h"

namespace kvn {
namespace {

// No device import of the caller's pages may outlive the call: the caller
// may free them as soon as it returns.
void releaseCallerImports(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap) {
    if (len) releaseHostRange(src, len);
    releaseHostRange(dst, cap);
}

// What this library does not encode yet is refused, never ignored: the
// caller would otherwise get frames other than those it asked for.
Error refuseUnbuilt(const EncodeParams& params) {
    // The chain and sort parsers are not built yet.
    if (levelParams(params.level).parse != ParseMode::Greedy) return Error::BadLevel;
    if (params.wrt) return Error::BadMode;
    return Error::None;
}

// Until inputs are split into frames, an input the device cannot take in
// one frame is refused before any device work: its bindings would pass the
// device's storage-buffer range, or its sizes their header fields.
Error refuseOversizedFrame(uint64_t len, const EncodeParams& params) {
    // A fraction the header cannot carry is refused by the header writer.
    if (len <= kMaxStoredInput || frameChunkSize(chunkFraction(params)) == 0) return Error::None;
    const FrameGeometry g = frameGeometry(len, chunkFraction(params));
    if (storedFrame(g)) return blockLengthFits(len) ? Error::None : Error::ContentSizeTooLarge;
    // Without a device the frame fails with the device's status.
    if (!ensureDevice()) return Error::None;
    return checkCompressedFrameFits(g, len, deviceBindingLimit());
}

}  // namespace

WrittenBytes compressFrames(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& call,
                            EncoderState& encoder) {
    if (call.level < kLowestLevel || call.level > kLevelWithWrt) return {0, Error::BadLevel};
    if (len > kMaxResultSize) return {0, Error::ContentSizeTooLarge};
    EncodeParams params = call;
    if (params.level == kLevelWithWrt) {
        params.level = kHighestLevel;
        params.wrt = true;
    }
    if (const Error e = refuseUnbuilt(params); e != Error::None) return {0, e};
    // Fractions above 65536 reach the header writer, which cannot write them.
    if (params.sc_group_size_set && !validScGroupSize(params.sc_group_size) &&
        !(params.sc_group_size > kMaxScGroupSize))
        return {0, Error::BadScGroupSize};
    if (cap < compressBound(len)) return {0, Error::DestinationTooSmall};
    if (const Error e = refuseOversizedFrame(len, params); e != Error::None) return {0, e};

    releaseCallerImports(src, len, dst, cap);
    if (params.use_dict) {
        DictionaryBytes dict{};
        if (const Error e = findDictionaryById(encoder.dictionaries, params.dict_id, &dict); e != Error::None) {
            releaseCallerImports(src, len, dst, cap);
            return {0, e};
        }
    }
    const WrittenBytes frame = compressFrame(src, len, dst, cap, params, encoder);
    releaseCallerImports(src, len, dst, cap);
    if (frame.error == Error::None && frame.size > kMaxResultSize) return {0, Error::ContentSizeTooLarge};
    return frame;
}

}  // namespace kvn
