#include "pipeline/decode/device_blocks.h"

#include <algorithm>

#include "core/format/byte_order.h"
#include "core/platform/platform.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/frame_decode.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// A host allocation of the call, freed on every exit.
struct HostBytes {
    explicit HostBytes(uint64_t n) : size(n), bytes(static_cast<uint8_t*>(allocPages(n ? n : 1))) {}
    ~HostBytes() {
        if (bytes) freePages(bytes, size ? size : 1);
    }
    HostBytes(const HostBytes&) = delete;
    HostBytes& operator=(const HostBytes&) = delete;
    uint64_t size;
    uint8_t* bytes;
};

}  // namespace

Error listDeviceBlocks(DeviceBufferHandle src, uint64_t b, uint64_t remaining, const FrameHeader& header,
                       std::vector<DeviceBlock>* blocks, uint64_t* body_end) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    uint64_t pos = header.header_length;
    if (pos > remaining) return Error::BadFrame;
    while (remaining - pos >= kEndMarkSize) {
        uint8_t bytes[kBlockHeaderSize] = {};
        const uint64_t got = std::min<uint64_t>(kBlockHeaderSize, remaining - pos);
        KVN_TRY(checkCopy(ops.memcpyDtoHSrcOffset(bytes, src, got, b + pos)));
        if (loadLe32(bytes) == 0) {
            pos += kEndMarkSize;
            break;
        }
        if (got < kBlockHeaderSize) return Error::BadFrame;
        const BlockHeader block = readBlockHeader(bytes);
        if (endsFrame(block)) {
            pos += kBlockHeaderSize;
            break;
        }
        if (block.payload_length > remaining - pos - kBlockHeaderSize) return Error::BadFrame;
        blocks->push_back({pos, block});
        pos += kBlockHeaderSize + block.payload_length;
    }
    *body_end = pos;
    return Error::None;
}

bool oneWalkedBlock(const std::vector<DeviceBlock>& blocks) { return blocks.size() == 1 && !blocks[0].block.skip; }

FrameResult decodeDeviceBlocks(DecoderState& decoder, DeviceBufferHandle frame, uint32_t frame_len,
                               DeviceBufferHandle dst, uint32_t decoded) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHSrcOffset || !ops.memcpyHtoD || !ops.streamSynchronize) return {0, Error::BackendNotAvailable};
    // What the caller queued before (the frame's own bytes among it) is done.
    if (decoder.stream != 0) {
        if (Error e = checkSync(ops.streamSynchronize(decoder.stream)); e != Error::None) return {0, e};
    }
    HostBytes in(frame_len);
    HostBytes out(decoded);
    if (!in.bytes || !out.bytes) return {0, Error::OutOfMemory};
    if (Error e = checkCopy(ops.memcpyDtoHSrcOffset(in.bytes, frame, frame_len, 0)); e != Error::None) return {0, e};
    // The host road runs on its own stream and judges the frame before it returns.
    const StreamHandle callers = decoder.stream;
    decoder.stream = 0;
    const FrameResult result = decodeFrameVk(in.bytes, frame_len, out.bytes, decoded, decoder, OutputTarget{});
    decoder.stream = callers;
    // The output holds the frame's content size: blocks beyond it contradict the header.
    if (result.error == Error::OutputTooSmall) return {0, Error::BadFrame};
    if (result.error != Error::None) return result;
    if (result.bytes != decoded) return {0, Error::SizeMismatch};
    if (Error e = checkCopy(ops.memcpyHtoD(dst, out.bytes, decoded)); e != Error::None) return {0, e};
    return result;
}

}  // namespace kvn
