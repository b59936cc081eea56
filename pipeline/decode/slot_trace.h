// The trace of the decoder's slot growth, in the form this library prints
// it (decodeDiagnostics().slot_trace), with the process-wide byte counts the
// trace reports.
#pragma once

#include <cstdint>

#include "pipeline/decode/decode_batch.h"

namespace kvn {

// Before a slot grows to `bytes`.
void traceSlotRequest(uint64_t bytes);
// The slot's old buffer was freed.
void countSlotFreed(uint64_t capacity);
// The slot could not grow to `bytes`.
void traceSlotRefused(const DeviceSlot& slot, uint64_t bytes);
// The slot holds its new buffer.
void traceSlotGrown(const DeviceSlot& slot);

}  // namespace kvn
