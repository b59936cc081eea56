// One decode-kernel launch: its storage buffers (with byte offsets), its push
// words, and the timing pair around it.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

class KernelCall {
public:
    KernelCall(KernelHandle kernel, uint32_t groups) : kernel_(kernel), groups_(groups) {}

    // More arguments than the call holds make its launch fail (BadRequest).
    KernelCall& buffer(DeviceBufferHandle handle, uint64_t offset = 0) {
        if (buffer_count_ == kMaxBuffers) {
            overflow_ = true;
            return *this;
        }
        buffers_[buffer_count_] = handle;
        offsets_[buffer_count_++] = offset;
        return *this;
    }
    KernelCall& word(uint32_t value) {
        if (word_count_ == kMaxWords) {
            overflow_ = true;
            return *this;
        }
        words_[word_count_++] = value;
        return *this;
    }
    // A 64-bit value: its low word, then its high word.
    KernelCall& wide(uint64_t value) { return word(uint32_t(value)).word(uint32_t(value >> 32)); }

    // Launches on `stream`; with a label the launch is timed when the call
    // asked for timings. Launch failures are KernelLaunchFailed.
    Error launch(DecoderState& decoder, StreamHandle stream, const char* label = nullptr) const;

private:
    static constexpr uint32_t kMaxBuffers = 16;
    static constexpr uint32_t kMaxWords = 32;
    KernelHandle kernel_;
    uint32_t groups_;
    DeviceBufferHandle buffers_[kMaxBuffers] = {};
    uint64_t offsets_[kMaxBuffers] = {};
    uint32_t words_[kMaxWords] = {};
    uint32_t buffer_count_ = 0;
    uint32_t word_count_ = 0;
    bool overflow_ = false;
};

}  // namespace kvn
