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

// The root of the `len` bytes of the device buffer `src` in leaves of
// leaf_size bytes, hashed in the encoder's leaf buffers (the body's leaves
// of the frame are then gone). Empty on any failure.
std::optional<uint32_t> computeDeviceMerkleRoot(EncoderState& encoder, DeviceBufferHandle src, uint64_t len,
                                                uint64_t leaf_size);

// The separate device pass: copies the frame input src[0, len)
// (frame_source.h) into a temporary buffer, freed before returning, and
// hashes it there. Empty on any failure.
std::optional<uint32_t> deviceMerkleRoot(const uint8_t* src, uint64_t len, uint64_t chunk_size,
                                         EncoderState& encoder);

// Writes the root over the leaves the body hashed for this frame into the
// device frame at byte `offset`, little-endian, and waits for it. False when
// it could not (no kernel, no leaves, a failed launch): the trailer then
// finds the root on the host.
bool writeMerkleRootOnDevice(EncoderState& encoder, DeviceBufferHandle frame, uint64_t offset);

}  // namespace kvn
