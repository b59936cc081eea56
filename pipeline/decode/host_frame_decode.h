// The decode of one non-WRT frame whose bytes lie in host memory: header,
// dictionary, block walk, stored and coded blocks, chunk prefixes, and the
// size, checksum and Merkle checks at the end.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/format/frame_header.h"
#include "core/handle/decoder_state.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// Where the decoded bytes go: the host pointer, or a device buffer.
struct OutputTarget {
    DeviceBufferHandle device = 0;
    bool on_device = false;
};

struct FrameResult {
    uint64_t bytes;  // 0 on error
    Error error;
};

// Which trailers the end checks verify: a byte-plane frame's trailers cover
// the element-major bytes, so its caller checks them after the inverse.
enum class TrailerChecks : uint8_t { Run, LeaveToCaller };

FrameResult decodeHostFrame(const uint8_t* frame, uint64_t frame_len, uint8_t* dst, uint64_t dst_cap,
                            DecoderState& decoder, const OutputTarget& target,
                            TrailerChecks checks = TrailerChecks::Run);

// The content checksum and the Merkle root of a frame over `bytes` decoded
// bytes in host memory, with the verdict the device left (kVerdictNone when
// it gave none), and the diagnostics that go with them.
Error checkFrameTrailers(const FrameHeader& header, const uint8_t* frame, uint64_t frame_len, const uint8_t* out,
                         uint64_t bytes, DecoderState& decoder, int32_t verdict);

// A switch of the Merkle check (KVN_NO_DEVICE_MERKLE, KVN_SKIP_MERKLE), in a
// library that reads them.
bool merkleSwitch(const char* variable);

// Uploads a dictionary unless the decoder's cached (id, length) matches.
Error uploadDictionary(DecoderState& decoder, uint32_t id, const uint8_t* data, uint64_t len);

// Sets the verdict cell to kVerdictNone, making it when needed; null when
// memory runs out.
int32_t* resetVerdictCell(DecoderState& decoder);

}  // namespace kvn
