// The frame walk of device-resident input: the walk kernels build the chunk
// descriptors on the device, so the compressed bytes never travel to the host.
#pragma once

#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "core/format/chunk_records.h"
#include "core/handle/decoder_state.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// The chunk-size table of the frame being walked.
struct WalkParams {
    uint32_t table_offset;  // from the frame start
    uint32_t chunk_count;
    bool has_table;
};

// The six result cells every walk writes, each in its own 256-byte cell of
// the meta buffer so that it binds on its own.
enum WalkCell : uint32_t {
    kWalkCount,
    kWalkDecoded,
    kWalkSubchunkSize,
    kWalkPayloadBase,
    kWalkPayloadLength,
    kWalkStatus,
    kWalkCellCount
};
inline constexpr uint64_t kWalkCellStride = 256;
inline constexpr uint64_t kWalkMetaBytes = kWalkCellStride * kWalkCellCount;
inline constexpr uint32_t kWalkDescCapacity = 65536;

struct WalkResult {
    DeviceBufferHandle descs;
    DeviceBufferHandle meta;
    Error error;
};

// Grows the walk buffers and zeroes the cells. The first-sub-chunk indices
// and the sub-chunk total go to the pipeline's own slots, where its stages
// read them.
Error prepareWalkBuffers(DecoderState& decoder);

// Binds the walk's outputs in kernel order: descriptors, the six cells, the
// first-sub-chunk indices and the total.
class KernelCall;
void bindWalkOutputs(const DecoderState& decoder, KernelCall& call);

// Walks the frame of frame_len bytes at the start of `frame` on the decoder's
// stream in use: the table walk when the frame has a chunk-size table and its
// kernel exists, else the one-thread walk.
WalkResult walkFrameDevice(DecoderState& decoder, DeviceBufferHandle frame, uint32_t frame_len,
                           uint32_t content_size, const WalkParams& params);

// The six cells as the walk left them, read after the stream drained.
struct WalkCells {
    uint32_t cells[kWalkCellCount];
    Error error;
};
WalkCells readWalkCells(const DecoderState& decoder);

// The descriptors the walk wrote, as many as its count cell says, read once
// the stream drained.
Error readWalkDescs(const DecoderState& decoder, std::vector<KvnChunkDesc>* descs);

// What a non-zero walk status means to the caller: damaged framing
// (BadFrame), or a shape this road does not take (BadMode, the host road
// then decodes it). A walk cut short by its step budget is one of the latter.
Error walkStatusError(uint32_t status);

}  // namespace kvn
