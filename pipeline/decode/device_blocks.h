// Frames of several blocks (or a skipped block) on the device road. The
// device walks take one block per frame, and a later block is no frame of
// its own: its first sub-chunk carries no raw bytes and its sequences may
// reach into the earlier blocks' output. The writer makes no such frames, so
// the frame is read to the host, decoded by the host road, which judges its
// trailers, and its bytes go to the device.
#pragma once

#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "core/handle/decoder_state.h"
#include "pipeline/decode/host_frame_decode.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

struct DeviceBlock {
    uint64_t at;  // its 8-byte header, from the frame start
    BlockHeader block;
};

// The blocks of the frame at byte b of the input (remaining bytes from b on),
// read header by header from the device, and where its body ends (after the
// end mark when there is one). BadFrame for a block past the input.
Error listDeviceBlocks(DeviceBufferHandle src, uint64_t b, uint64_t remaining, const FrameHeader& header,
                       std::vector<DeviceBlock>* blocks, uint64_t* body_end);

// Whether the device walks take the frame as it is: one block, not skipped.
bool oneWalkedBlock(const std::vector<DeviceBlock>& blocks);

// The frame of frame_len bytes at the start of `frame`, decoding to
// `decoded` bytes at the start of `dst`; on return the bytes are in place.
FrameResult decodeDeviceBlocks(DecoderState& decoder, DeviceBufferHandle frame, uint32_t frame_len,
                               DeviceBufferHandle dst, uint32_t decoded);

}  // namespace kvn
