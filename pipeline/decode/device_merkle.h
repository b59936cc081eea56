// The device Merkle pass of a decode batch: chunk prefixes, leaf hashes at
// frame offsets, and the verdict against the stored root.
#pragma once

#include "core/errors.h"
#include "pipeline/decode/decode_batch.h"

namespace kvn {

// Queues the pass on `stream` over `output`, the batch's output buffer with
// the frame's first byte at offset 0 and the earlier blocks before the
// batch's bytes: the leaves are taken at frame offsets whatever block the
// batch is. Nothing when the kernels are not built. With `leaves_hashed` the
// LZ stage already wrote the leaves (fusedLeavesFit): only the verdict runs.
// The frame starts at byte output_off of `output` (a binding offset the
// device accepts).
Error launchDeviceMerkle(DecoderState& decoder, const DecodeBatch& batch, const BatchBuffers& buffers,
                         StreamHandle stream, DeviceBufferHandle output, bool leaves_hashed,
                         uint64_t output_off = 0);

// The pass in its two parts, for a caller that runs the hashing on another
// stream: whether the pass runs at all; the chunk prefixes, which change the
// output and so come before anything reads it; the leaf hashes and the
// verdict, which only read it. The parts take launchDeviceMerkle's arguments.
bool deviceMerkleArmed(const DecodeBatch& batch);
Error restoreChunkPrefixes(DecoderState& decoder, const DecodeBatch& batch, const BatchBuffers& buffers,
                           StreamHandle stream, DeviceBufferHandle output, uint64_t output_off = 0);
Error hashDeviceLeaves(DecoderState& decoder, const DecodeBatch& batch, StreamHandle stream,
                       DeviceBufferHandle output, bool leaves_hashed, uint64_t output_off = 0);

// The pass over a whole frame's content, `len` bytes at output_off of
// `output` with nothing before them: leaves of `leaf_size` bytes from its
// first byte, no chunk prefixes, the verdict against `root` copied to
// `verdict_dst` on `stream`. Nothing when the kernels are not built
// (wholeOutputMerkleRuns).
inline constexpr uint64_t kMaxWholeOutputLeaves = uint64_t{1} << 24;
bool wholeOutputMerkleRuns(uint64_t len, uint64_t leaf_size);
Error launchWholeOutputMerkle(DecoderState& decoder, StreamHandle stream, DeviceBufferHandle output,
                              uint64_t output_off, uint64_t len, uint64_t leaf_size, uint32_t root,
                              int32_t* verdict_dst);

// Whether leaves hashed by the LZ kernel as it decodes (each chunk's whole
// words from its start, weighted by their offset in the output) are this
// batch's Merkle leaves: the batch is the whole frame from its first byte,
// one chunk per leaf at the leaf's offset, whole words per chunk, and no
// chunk start for the prefixes to change after the decode.
bool fusedLeavesFit(const DecodeBatch& batch);

}  // namespace kvn
