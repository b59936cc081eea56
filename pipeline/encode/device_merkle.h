// The chunk Merkle leaves of a frame's input computed on the device, with
// the decoder's integrity kernels: while the body encode has the input
// there, or in a pass of their own.
#pragma once

#include <cstdint>
#include <optional>

#include "core/handle/encoder_state.h"
#include "core/interface/backend.h"

namespace kvn {

// Whether the device can hash leaves at all (both kernels built, not turned
// off with KVN_NO_DEVICE_MERKLE).
bool deviceMerkleAvailable();

// Hashes the `len` bytes of `input` into encoder's leaf buffer (one u32 per
// chunk of chunk_size bytes). On success sets merkle_leaves_valid; a failure
// prints a warning and leaves it clear (the trailer then finds the root another way).
void hashDeviceLeaves(EncoderState& encoder, DeviceBufferHandle input, uint64_t len, uint32_t chunk_size);

// The root over the leaves hashed for this frame: empty when they are not
// valid for `len` bytes in chunks of chunk_size, or cannot be read.
std::optional<uint32_t> deviceLeavesRoot(EncoderState& encoder, uint64_t len, uint64_t chunk_size);

// The separate device pass: copies the frame input src[0, len)
// (frame_source.h) and hashes it in temporary buffers, freed before
// returning. Empty on any failure.
std::optional<uint32_t> deviceMerkleRoot(const uint8_t* src, uint64_t len, uint64_t chunk_size,
                                         const EncoderState& encoder);

}  // namespace kvn
