// The device Merkle pass of a decode batch: chunk prefixes, leaf hashes at
// frame offsets, and the verdict against the stored root.
#pragma once

#include "core/errors.h"
#include "pipeline/decode/decode_batch.h"

namespace kvn {

// Queues the pass on `stream` over `output`, the batch's output buffer with
// the frame's first byte at offset 0 and the earlier blocks before the
// batch's bytes: the leaves are taken at frame offsets whatever block the
// batch is. Nothing when the kernels are not built.
Error launchDeviceMerkle(DecoderState& decoder, const DecodeBatch& batch, const BatchBuffers& buffers,
                         StreamHandle stream, DeviceBufferHandle output);

}  // namespace kvn
