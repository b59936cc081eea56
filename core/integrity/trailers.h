// Finding a frame's integrity trailers and checking the content checksum.
#pragma once

#include <cstdint>

#include "core/errors.h"

namespace kvn {

struct MerkleTrailer {
    uint64_t leaf_size;
    uint32_t stored_root;
    bool present;
    Error error;  // ChecksumMismatch: the flag announces a root the bytes do not hold
};

// The Merkle root trailer of the frame at frame and its leaf size (the
// frame's chunk size). How the readers treat damaged frames:
// - flag clear: no trailer, no error;
// - a frame that cannot be walked at all counts as having no trailer. Every
//   caller has measured the frame with frameTotalLength before and failed on
//   its error, so the walk's fault is reported there, once;
// - a frame that walks but whose trailers lie beyond `available` was cut
//   short after its body: the trailer its flags promise is missing, which is
//   a ChecksumMismatch, never a silent "no trailer";
// - an invalid sc_group_size is BadScGroupSize.
MerkleTrailer readMerkleTrailer(bool has_merkle_root, float sc_group_size, const uint8_t* frame,
                                uint64_t available);

// Compares the frame's checksum trailer with XXH32 of content. None when the
// flag is clear, when it matches, or when the frame cannot be walked (see
// above); ChecksumMismatch when it differs or the trailer is cut off.
Error checkContentChecksum(bool has_checksum, bool has_merkle_root, const uint8_t* frame, uint64_t available,
                           const uint8_t* content, uint64_t content_len);

}  // namespace kvn
