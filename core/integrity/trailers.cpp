#include "core/integrity/trailers.h"

#include "core/format/byte_order.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "core/integrity/xxh32.h"

namespace kvn {
namespace {

// Where a walkable frame's trailers end, or why they cannot be read.
struct TrailerEnd {
    uint64_t frame_length;  // 0 when the frame cannot be walked
    Error error;
};

TrailerEnd findTrailerEnd(const uint8_t* frame, uint64_t available, uint64_t trailer_bytes) {
    const FrameLength walked = frameTotalLength(frame, available);
    if (walked.error != Error::None) return {0, Error::None};
    if (walked.length < trailer_bytes || walked.length > available) return {0, Error::ChecksumMismatch};
    return {walked.length, Error::None};
}

}  // namespace

MerkleTrailer readMerkleTrailer(bool has_merkle_root, float sc_group_size, const uint8_t* frame,
                                uint64_t available) {
    if (!has_merkle_root) return {};
    const uint64_t leaf_size = frameChunkSize(sc_group_size);
    if (leaf_size == 0) return {0, 0, false, Error::BadScGroupSize};

    const TrailerEnd end = findTrailerEnd(frame, available, kTrailerSize);
    if (end.frame_length == 0) return {0, 0, false, end.error};
    return {leaf_size, loadLe32(frame + merkleRootOffset(end.frame_length)), true, Error::None};
}

Error checkContentChecksum(bool has_checksum, bool has_merkle_root, const uint8_t* frame, uint64_t available,
                           const uint8_t* content, uint64_t content_len) {
    if (!has_checksum) return Error::None;
    const TrailerEnd end = findTrailerEnd(frame, available, kTrailerSize * (has_merkle_root ? 2 : 1));
    if (end.frame_length == 0) return end.error;
    const uint32_t stored = loadLe32(frame + checksumOffset(end.frame_length, has_merkle_root));
    return stored == xxh32(content, content_len) ? Error::None : Error::ChecksumMismatch;
}

}  // namespace kvn
