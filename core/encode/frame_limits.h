// What one compressed frame asks of the device and of its header fields,
// known from its geometry before any device work: the largest storage-buffer
// binding of its encode, the end of its LZ slots (slot offsets are 32-bit) and
// the most its block payload can be (the block header's 30-bit length).
#pragma once

#include <cstdint>

#include "core/encode/frame_geometry.h"
#include "core/errors.h"

namespace kvn {

// Bytes per sub-chunk of the assembly kernels' records.
inline constexpr uint64_t kAssembleRecordBytes = 52;
// The device copy of the input is read 8 bytes past its end.
inline constexpr uint64_t kInputCopyTail = 8;

// Bytes of the device input copy and of the LZ output slots of a frame.
inline uint64_t inputCopyBytes(uint64_t len) { return len + kInputCopyTail; }
uint64_t lzOutputBytes(const FrameGeometry& g);

// The most the compressed block of a frame of len bytes can hold: every
// chunk's record at its largest (a compressed record is kept only when it is
// smaller than the raw one) and the prefixes of the later chunks.
uint64_t blockPayloadBound(const FrameGeometry& g, uint64_t len);

// The block header's length field.
bool blockLengthFits(uint64_t payload);

// The largest binding of the frame's encode whose size the geometry decides.
uint64_t largestFrameBinding(const FrameGeometry& g, uint64_t len);

// None when a compressed frame of len bytes fits a device whose bindings
// reach max_binding bytes and its sizes fit their fields and offsets, else
// ContentSizeTooLarge.
Error checkCompressedFrameFits(const FrameGeometry& g, uint64_t len, uint64_t max_binding);

}  // namespace kvn
