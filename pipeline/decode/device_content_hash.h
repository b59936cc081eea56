// The content checksum of decoded bytes that lie in device memory, folded on
// the device: the bytes never travel to the host, only the verdict does.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// Queues on `stream` the passes that fold the `len` bytes at byte `at` of
// `bytes` into XXH32 and compare it with `expected`. KernelMissing without
// the kernel.
Error queueContentHash(DecoderState& decoder, StreamHandle stream, DeviceBufferHandle bytes, uint64_t at,
                       uint64_t len, uint32_t expected);

// After the stream drained: None when the bytes hash to the expected value,
// ChecksumMismatch when not, GpuPipelineFailed when the device did not fold
// every byte (no verdict exists).
Error contentHashVerdict(const DecoderState& decoder);

}  // namespace kvn
