// The steps around the decode of a device-resident frame that both device
// roads share: what the host learns from the frame's first bytes, the move of
// its payload into the payload slot, the chunk prefixes, and the Merkle
// verdict and the content checksum over the decoded bytes, both on the device.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/format/frame_header.h"
#include "core/handle/decoder_state.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// The frame at byte frame_off of its buffer, and where its pieces lie.
struct FrameShape {
    FrameHeader header;
    uint64_t frame_off;
    uint32_t frame_len;
    uint64_t chunk;           // chunk size
    uint64_t chunks;          // n
    uint32_t payload_length;  // its (one) block's
    bool prefix_area;         // chunk 0 asks for the chunk-prefix area and n > 1
    uint32_t trailers;        // checksum and Merkle root bytes
    uint64_t payload_at;      // where its block payload lies in the payload slot
    uint64_t out_off;         // where its decoded bytes start in the output
};

// Reads and checks the frame's first bytes. BadMode for a frame the device
// roads do not take (no content size, not one block).
Error readShape(DeviceBufferHandle frame, uint64_t frame_off, uint32_t frame_len, FrameShape* shape);

// Moves bytes [from, from + len) of `src` to the start of the payload slot
// (with the kernels' read slack after them), on the stream in use: the
// decode kernels read descriptor offsets from the start of the buffer they
// are given, and a binding cannot start at a payload's unaligned offset.
Error stagePayload(DecoderState& decoder, DeviceBufferHandle src, uint64_t from, uint64_t len);

// Queued on the stream in use, over the frame's decoded bytes at
// shape.out_off of `out` (a binding offset the device accepts): each later
// chunk's first bytes from the chunk-prefix area (the frame's payload in the
// payload slot at shape.payload_at) ...
Error restorePrefixes(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle out);
// ... and the trailers' checks over the element-major bytes: the Merkle
// leaves and verdict into the decoder's verdict cell (reset here), and the
// content checksum.
Error queueTrailerChecks(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame,
                         DeviceBufferHandle out);

// After the stream drained: the Merkle verdict, then the content checksum's.
Error judgeFrame(const DecoderState& decoder, const FrameShape& shape);

// KVN_WRT_DEBUG's line for a WRT frame whose restored text the device judged
// (`frame` holds the root), once the verdict is in.
Error reportWrtFrameMerkle(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame);

}  // namespace kvn
