// A frame's stages queue their device work on the encoder's own stream and
// wait for it once, where the host needs what it produced (sizes for the
// layout, the finished frame), instead of waiting for every copy and launch.
//
// Within one stretch between waits, queue every upload before the kernels
// that read it, and never change a buffer that was queued for upload: the
// device may read it at any time until the wait.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// The encoder's stream, made on first use.
Error ensureEncodeStream(EncoderState& encoder);

Error queueUpload(EncoderState& encoder, DeviceBufferHandle dst, const void* src, uint64_t bytes);
// The bytes land at dst by the next wait.
Error queueRead(EncoderState& encoder, void* dst, DeviceBufferHandle src, uint64_t bytes);
// Everything queued has run, and every queued read has landed.
Error waitEncodeStream(EncoderState& encoder);

// One stretch of queued work on the encoder's stream (made beforehand with
// ensureEncodeStream). A stretch left with work queued since its last wait
// (a step failed) is waited for on the way out, so that no queued copy
// outlives the host memory it reads or writes and no stale launch runs in
// the next stretch.
class EncodeStretch {
public:
    explicit EncodeStretch(EncoderState& encoder) : encoder_(encoder) {}
    ~EncodeStretch() {
        if (queued_) waitEncodeStream(encoder_);
    }
    EncodeStretch(const EncodeStretch&) = delete;
    EncodeStretch& operator=(const EncodeStretch&) = delete;

    // The stream, for work about to be queued on it.
    StreamHandle stream() {
        queued_ = true;
        return encoder_.own_stream;
    }
    Error upload(DeviceBufferHandle dst, const void* src, uint64_t bytes) {
        queued_ = true;
        return queueUpload(encoder_, dst, src, bytes);
    }
    Error read(void* dst, DeviceBufferHandle src, uint64_t bytes) {
        queued_ = true;
        return queueRead(encoder_, dst, src, bytes);
    }
    Error wait() {
        queued_ = false;
        return waitEncodeStream(encoder_);
    }

private:
    EncoderState& encoder_;
    bool queued_ = false;
};

}  // namespace kvn
