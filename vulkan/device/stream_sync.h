// Ending streams: submitting their recorded work and waiting for it, and the
// operations that steer a stream's submission (transfer flush, aux mode,
// compute barriers).
#pragma once

#include <cstdint>

#include "vulkan/device/gpu_ops.h"

namespace kvn {

struct StreamRecord;

// Submits everything the stream recorded, waits for it, lands the staged
// host copies and returns the stream to idle; the wait's result.
int32_t streamEnd(StreamRecord& s);
// streamEnd of every live stream that the calling thread records into and
// whose compute command buffer is begun; results ignored. Other threads'
// streams are left to them.
void endOpenStreams();

int32_t procStreamSynchronize(StreamHandle stream);
int32_t procStreamFlushTransfer(StreamHandle stream);
int32_t procCtxSynchronize();
int32_t procStreamComputeBarrier(StreamHandle stream);
int32_t procStreamSwitchToAux(StreamHandle stream);

}  // namespace kvn
