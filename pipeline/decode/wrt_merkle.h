// The Merkle verdict of a WRT frame's text where the GPU inverse left it, on
// the device: the leaves and the root never cross to the host, only the
// verdict (and, for KVN_WRT_DEBUG, the first leaves).
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "core/integrity/trailers.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// What the "[wrt-merkle]" line reports.
struct WrtMerkleRecord {
    uint64_t raw_len;  // bytes of text
    uint64_t eff;      // leaf size
    uint32_t n_chunks;
    uint32_t expected;  // the stored root
    uint32_t verdict;
    const uint32_t* hashes;  // the first leaves
    uint32_t hash_count;
};
void printWrtMerkle(const WrtMerkleRecord& record);

// Whether the line is printed: KVN_WRT_DEBUG, in the library that has it.
bool wrtMerkleLineWanted();

// The line for the `out` bytes of text whose leaves the last whole-output
// Merkle pass left in the decoder's leaf slot, with its verdict.
Error reportWrtMerkle(DecoderState& decoder, const MerkleTrailer& trailer, uint64_t out, int32_t verdict);

// The verdict (kVerdictMatch or kVerdictMismatch) of the trailer's root over
// the `out` bytes at the start of `text`, whose inverse has completed; or
// kVerdictNone where the device does not judge them (KVN_NO_DEVICE_MERKLE in
// a library that reads it, no trailer, no text, the kernels not built, too
// many leaves), which leaves the root to the trailer step. Device failures are returned.
Error judgeWrtText(DecoderState& decoder, const MerkleTrailer& trailer, DeviceBufferHandle text, uint64_t out,
                   int32_t* verdict);

}  // namespace kvn
