// The decode of one frame that lies in device memory into device memory:
// the frame walk and the pipeline run on the device, the chunk prefixes, the
// byte-plane inverse and the Merkle verdict too. The host reads the frame's
// first bytes and its stored root, never its payload.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/host_frame_decode.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/device/gpu_work_lock.h"

namespace kvn {

// The most bytes one frame of this road decodes to.
inline constexpr uint64_t kMaxDeviceFrameContent = 0xFFFF0000u;

// The frame is the first frame_len bytes of `frame`; its content_size bytes
// go to the start of `dst`. On the caller's stream (decoder.stream set) the
// work stays queued once the walk is judged; without one the decoder's own
// stream runs under the GPU work lock and the verdict is judged here.
// BadMode for a frame this road does not take (a WRT frame among them).
FrameResult decodeDeviceFrame(DecoderState& decoder, DeviceBufferHandle frame, uint32_t frame_len,
                              DeviceBufferHandle dst, uint32_t content_size);

// The pieces the whole-input road shares with it:
// the decoder's own stream, made on first use;
Error ensureOwnStream(DecoderState& decoder);
// for a scope, the decoder's own stream under the GPU work lock when the
// call brought no stream (made first by ensureOwnStream);
class FrameStream {
public:
    explicit FrameStream(DecoderState& decoder);
    ~FrameStream();
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

private:
    DecoderState& decoder_;
    bool own_;
    OwnStreamWorkLock lock_;
};
// the frame's dictionary uploaded (UnknownDictionary when it has none such);
Error useFrameDictionary(DecoderState& decoder, const FrameHeader& header);
// the walk's status and decoded total, read once the stream drained;
Error judgeWalk(const DecoderState& decoder, uint64_t decoded);
// the batch over the walk's descriptors and the payload slot, decoded in
// place into `out`, with the first frame's level and dictionary.
DecodeBatch deviceWalkBatch(const DecoderState& decoder, const FrameHeader& first, uint64_t chunk_bound,
                            uint64_t payload_len, DeviceBufferHandle out, uint64_t out_len);

}  // namespace kvn
