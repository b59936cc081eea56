// The decode of one frame that lies in device memory into device memory:
// the frame walk and the pipeline run on the device, the chunk prefixes, the
// byte-plane inverse, the Merkle verdict and the content checksum too. The
// host reads the frame's first bytes and its stored trailers, never its
// payload or its decoded bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/device_frame_checks.h"
#include "pipeline/decode/host_frame_decode.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/device/gpu_work_lock.h"

namespace kvn {

// The most bytes one frame of this road decodes to.
inline constexpr uint64_t kMaxDeviceFrameContent = 0xFFFF0000u;

// The frame is the first frame_len bytes of `frame`; the decoded_size bytes
// it decodes to (a WRT frame's text, else its content) go to the start of
// `dst`. On the caller's stream (decoder.stream set) or, without one, on the
// decoder's own stream under the GPU work lock; the stream is drained and the
// trailers judged before the call returns. BadMode for a frame this road does
// not take.
FrameResult decodeDeviceFrame(DecoderState& decoder, DeviceBufferHandle frame, uint32_t frame_len,
                              DeviceBufferHandle dst, uint32_t decoded_size);

// On the stream in use: the frame's body (walk, payload, pipeline, chunk
// prefixes) decoded into the start of `target`, content-size bytes, before
// any inverse transform or trailer.
Error decodeFrameBody(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame,
                      DeviceBufferHandle target);

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
// the walk's status and decoded total, read once the stream drained, over
// `input_bytes` of frames;
Error judgeWalk(const DecoderState& decoder, uint64_t input_bytes, uint64_t decoded);
// a walk that stopped with a non-zero status, as each library reports it
// (CUDA says so unasked, Vulkan only through the call's status);
void reportWalkStatus(uint32_t status, uint64_t input_bytes, uint64_t decoded);
// the batch over the walk's descriptors and the payload slot, decoded in
// place into `out`, with the first frame's level and dictionary. A batch
// with decoded streams (level code 3 and up) takes the descriptors read to
// the host into `descs`, so that the run sizes each sub-chunk's scratch slot
// to the sub-chunk and goes in windows where the device cannot hold every
// stream at once; other batches read the walk's own on the device, at most
// chunk_bound of them.
Error deviceWalkBatch(const DecoderState& decoder, const FrameHeader& first, uint64_t chunk_bound,
                      uint64_t payload_len, DeviceBufferHandle out, uint64_t out_len,
                      std::vector<KvnChunkDesc>* descs, DecodeBatch* batch);

}  // namespace kvn
