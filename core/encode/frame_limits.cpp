#include "core/encode/frame_limits.h"

#include <algorithm>

#include "core/encode/body_layout.h"
#include "core/encode/chunk_descriptors.h"
#include "core/format/frame_header.h"

namespace kvn {
namespace {

constexpr uint64_t kMaxSlotEnd = uint64_t{1} << 32;
// The fixed header with the content size and a dictionary id.
constexpr uint64_t kLargestHeader = kFrameFixedHeaderSize + 8 + 4;
constexpr uint64_t kEndMarkBytes = KVN_END_MARK_BYTES;

}  // namespace

uint64_t lzOutputBytes(const FrameGeometry& g) { return g.sub_chunks * kLzSlotFactor * g.sub; }

uint64_t blockPayloadBound(const FrameGeometry& g, uint64_t len) {
    return len + g.chunks * kCompressedChunkHeaderBytes + (g.chunks - 1) * kChunkPrefixBytes;
}

bool blockLengthFits(uint64_t payload) { return payload <= kBlockLengthMask; }

uint64_t largestFrameBinding(const FrameGeometry& g, uint64_t len) {
    const uint64_t frame = kLargestHeader + kBlockHeaderBytes + blockPayloadBound(g, len) + kEndMarkBytes;
    const uint64_t records = g.sub_chunks * std::max<uint64_t>(kAssembleRecordBytes, sizeof(CompressChunkDesc));
    return std::max({inputCopyBytes(len), lzOutputBytes(g), frame, records});
}

Error checkCompressedFrameFits(const FrameGeometry& g, uint64_t len, uint64_t max_binding) {
    if (lzOutputBytes(g) > kMaxSlotEnd || !blockLengthFits(blockPayloadBound(g, len)) ||
        largestFrameBinding(g, len) > max_binding)
        return Error::ContentSizeTooLarge;
    return Error::None;
}

}  // namespace kvn
