// The inverse word transform on the GPU for one WRT frame: the segment and
// word tables go up, kvnWrtDecodeFusedKernel writes the text, and every
// segment must have produced exactly its decoded length.
#pragma once

#include <cstdint>
#include <memory>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "core/integrity/trailers.h"
#include "pipeline/device/device_ops.h"
#include "core/wrt/wrt_format.h"

namespace kvn {

// KVN_WRT_DEBUG's stage times ("[wrt-vk-dec]" lines), in a library that prints them.
bool wrtStageTimesWanted();

struct WrtFusedResult {
    bool applied = false;
    Error error = Error::None;  // a device failure the caller reports
    // The device's Merkle verdict on the text (kVerdictNone: it gave none).
    int32_t verdict = kVerdictNone;
};

// The transformed text of `inner` bytes in `trans` inverted into the start of
// `output` (out bytes; nothing is written past them). BadFrame when the
// section's sums do not match the frame or a segment produced other than its
// decoded length; KernelMissing, BackendNotAvailable or BadMode when the
// device cannot run the inverse; else a device failure.
Error wrtInverseOnDevice(const WrtDecodeState& state, DecoderState& decoder, DeviceBufferHandle trans, uint64_t inner,
                         DeviceBufferHandle output, uint64_t out);

// The same for transformed text in host memory, into host memory, with the
// frame's Merkle root judged on the text where the device holds it. Not applied (the caller then runs the CPU decoder, which
// judges the stream) where the device inverse does not run or does not match
// the section.
WrtFusedResult wrtDecodeFused(const WrtDecodeState& state, DecoderState& decoder, const uint8_t* transformed,
                              uint64_t inner, uint8_t* dst, uint64_t out, const MerkleTrailer& trailer);

// The tables the kernel reads, in one blob with every region at a multiple of
// 256 bytes: encoded offsets, encoded lengths, decoded offsets, word lengths,
// 32-byte word slots, then room for the produced lengths the kernel writes.
struct WrtFusedTables {
    std::unique_ptr<uint8_t[]> blob;
    uint64_t size = 0;
    uint64_t region = 0;         // A: bytes of each of the three segment regions
    uint64_t words_at = 0;       // W0
    uint64_t produced_at = 0;
    bool fits = false;           // the sums fit 32 bits and match the frame
};

// OutOfMemory, or the tables (fits false when the sums do not allow the GPU road).
Error buildWrtFusedTables(const WrtDecodeState& state, uint64_t inner, WrtFusedTables* tables);

}  // namespace kvn
