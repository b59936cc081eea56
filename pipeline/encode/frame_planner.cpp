#include "pipeline/encode/frame_planner.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "core/dict/dictionary_lookup.h"
#include "core/encode/frame_cap.h"
#include "core/encode/frame_geometry.h"
#include "core/encode/frame_limits.h"
#include "core/encode/level_table.h"
#include "core/format/compress_bound.h"
#include "core/format/frame_header.h"
#include "core/format/size_math.h"
#include "core/platform/platform.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/frame_encode.h"
#include "pipeline/encode/frame_source.h"

namespace kvn {
namespace {

// No device import of the caller's pages may outlive the call: the caller
// may free them as soon as it returns. A source in device memory has none.
void releaseCallerImports(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncoderState& encoder) {
    if (len && !sourceOnDevice(encoder)) releaseHostRange(src, len);
    releaseHostRange(dst, cap);
}

// Whether a frame of len bytes fits the device's bindings and its header
// fields; a frame that does not is refused before any device work.
Error frameFits(uint64_t len, float fraction) {
    if (len <= kMaxStoredInput) return Error::None;
    const FrameGeometry g = frameGeometry(len, fraction);
    if (storedFrame(g, maxCompressedChunks())) return blockLengthFits(len) ? Error::None : Error::ContentSizeTooLarge;
    return checkCompressedFrameFits(g, len, deviceBindingLimit());
}

void printIntegratedNotice() {
    static bool printed = false;
    if (printed || envPresent("KVN_NO_HINTS")) return;
    printed = true;
    std::fputs("FYI: integrated GPU + L5: per-frame cap at 64 MB to stay under Windows TDR\n"
               "     (chain parser otherwise exceeds the 2 s GPU compute timeout on iGPU).\n"
               "     1 GB input ~= 16 frames. To allow larger frames set\n"
               "     HKLM\\SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers\\TdrDelay (DWORD)\n"
               "     to a larger value (default 2) and reboot. Set KVN_NO_HINTS=1 to silence.\n",
               stderr);
}

// The largest frame of this call, in whole chunks: the cap the encoder keeps
// for its level and chunk size, else one worked out now and halved until such
// a frame fits the device's bindings.
std::optional<uint64_t> frameCapOfCall(EncoderState& encoder, int32_t level, float fraction) {
    const uint64_t chunk = frameChunkSize(fraction);
    if (encoder.frame_cap != 0 && encoder.frame_cap_level == level && encoder.frame_cap_chunk == chunk)
        return encoder.frame_cap;
    const FrameCap cap = frameCap(level, chunk, envText("KVN_FRAME_CAP"),
                                  {deviceLocalHeapBytes(), deviceBindingLimit(), deviceIsIntegrated(),
                                   maxCompressedChunks()});
    if (cap.integrated_limit) printIntegratedNotice();
    // The decoders hold the streams of at most kMaxHuffmanSubchunks
    // sub-chunks of one frame: an entropy-coded frame never has more.
    const uint64_t coded_chunks = kMaxHuffmanSubchunks / ceilDiv(chunk, kMaxSubChunkSize);
    uint64_t bytes = levelParams(level).entropy_coded ? std::min(cap.bytes, coded_chunks * chunk) : cap.bytes;
    while (frameFits(bytes, fraction) != Error::None) {
        bytes /= 2;
        bytes -= bytes % chunk;
        if (bytes < chunk) return std::nullopt;
    }
    encoder.frame_cap = bytes;
    encoder.frame_cap_level = level;
    encoder.frame_cap_chunk = chunk;
    return bytes;
}

// The frames of src, `frame` bytes each but the last, written one after
// another at dst. A source in device memory is split the same way: each
// frame reads its slice from its offset in dev_src; in a device destination
// each frame goes to the offset it has in dst.
WrittenBytes compressSplit(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                           EncoderState& encoder, uint64_t frame) {
    const bool on_device = sourceOnDevice(encoder);
    uint64_t read = 0, written = 0;
    WrittenBytes out{0, Error::None};
    while (read < len && out.error == Error::None) {
        const uint64_t n = std::min(frame, len - read);
        encoder.dev_src_offset = on_device ? read : 0;
        encoder.dev_dst_offset = written;
        out = compressFrame(on_device ? src : src + read, n, dst + written, cap - written, params, encoder);
        read += n;
        written += out.size;
    }
    encoder.dev_src_offset = 0;
    encoder.dev_dst_offset = 0;
    return out.error != Error::None ? out : WrittenBytes{written, Error::None};
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
    // Fractions above 65536 reach the header writer, which cannot write them.
    if (params.sc_group_size_set && !validScGroupSize(params.sc_group_size) &&
        !(params.sc_group_size > kMaxScGroupSize))
        return {0, Error::BadScGroupSize};
    if (compressNeedsBound() && cap < compressBound(len)) return {0, Error::DestinationTooSmall};
    // Without a device every frame fails with the device's status.
    if (!ensureDevice()) return {0, Error::BackendNotAvailable};
    // A fraction above 65536 has no chunk size: its one frame is refused by
    // the header writer, which cannot write it.
    const float fraction = chunkFraction(params);
    const std::optional<uint64_t> frame_cap =
        frameChunkSize(fraction) == 0 ? len : frameCapOfCall(encoder, params.level, fraction);
    if (!frame_cap) return {0, Error::ContentSizeTooLarge};

    releaseCallerImports(src, len, dst, cap, encoder);
    if (params.use_dict) {
        DictionaryBytes dict{};
        if (const Error e = findDictionaryById(encoder.dictionaries, params.dict_id, &dict); e != Error::None) {
            releaseCallerImports(src, len, dst, cap, encoder);
            return {0, e};
        }
    }
    const WrittenBytes frame = len <= *frame_cap
                                   ? compressFrame(src, len, dst, cap, params, encoder)
                                   : compressSplit(src, len, dst, cap, params, encoder, *frame_cap);
    releaseCallerImports(src, len, dst, cap, encoder);
    if (frame.error == Error::None && frame.size > kMaxResultSize) return {0, Error::ContentSizeTooLarge};
    return frame;
}

}  // namespace kvn
