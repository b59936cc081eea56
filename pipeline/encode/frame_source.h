// Where a frame's input lives. A host source is the bytes at src; a source in
// device memory is the encoder's dev_src from dev_src_offset, and src is then
// a placeholder that is never read. Every reader of a frame's input goes
// through these, so neither kind is read as the other.
#pragma once

#include <cstdint>
#include <memory>

#include "core/encode/frame_header_writer.h"
#include "core/errors.h"
#include "core/handle/encoder_state.h"

namespace kvn {

inline bool sourceOnDevice(const EncoderState& encoder) { return encoder.dev_src != 0; }

// Copies the frame input [0, len) into the device buffer dst and waits; with
// a stream, queues the copy on it.
Error copySourceToDevice(const uint8_t* src, uint64_t len, const EncoderState& encoder, DeviceBufferHandle dst,
                         StreamHandle stream = 0);

// The frame input [0, len) on the host: src itself, or a copy read from the device.
struct HostSource {
    const uint8_t* bytes = nullptr;
    Error error = Error::None;
    std::unique_ptr<uint8_t[]> copy;
};
HostSource hostSourceBytes(const uint8_t* src, uint64_t len, const EncoderState& encoder);

// The stored block of the frame input after the header (writeStoredBody).
WrittenBytes writeStoredSource(uint8_t* dst, uint64_t cap, uint64_t header_len, const uint8_t* src, uint64_t len,
                               const EncoderState& encoder);

// For one scope the frame input is the device buffer `buffer` from `offset`
// (a transformed form of the caller's input), or with buffer 0 the host
// bytes the frame writer is given; the caller's source after it.
class ScopedFrameSource {
public:
    ScopedFrameSource(EncoderState& encoder, DeviceBufferHandle buffer, uint64_t offset)
        : encoder_(encoder), saved_(encoder.dev_src), saved_offset_(encoder.dev_src_offset) {
        encoder.dev_src = buffer;
        encoder.dev_src_offset = offset;
    }
    ~ScopedFrameSource() {
        encoder_.dev_src = saved_;
        encoder_.dev_src_offset = saved_offset_;
    }
    ScopedFrameSource(const ScopedFrameSource&) = delete;
    ScopedFrameSource& operator=(const ScopedFrameSource&) = delete;

private:
    EncoderState& encoder_;
    DeviceBufferHandle saved_;
    uint64_t saved_offset_;
};

}  // namespace kvn
