#include "pipeline/decode/device_wrt_decode.h"

#include <memory>
#include <new>

#include "core/format/size_math.h"
#include "core/wrt/wrt_format.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/device_frame_decode.h"
#include "pipeline/decode/wrt_decode_fused.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// The decode kernels may write this far past a batch's last byte.
constexpr uint64_t kTransformedSlack = 64;

// The section's bytes on the host, with the state that points into them.
struct HostSection {
    std::unique_ptr<uint8_t[]> bytes;
    WrtDecodeState state;
};

Error readSection(const FrameShape& shape, DeviceBufferHandle frame, HostSection* section) {
    const FrameHeader& header = shape.header;
    const uint64_t at = header.wrt_section_offset;
    const uint64_t len = header.wrt_section_length;
    if (len == 0 || at > shape.frame_len || shape.frame_len - at < len) return Error::BadFrame;
    section->bytes.reset(new (std::nothrow) uint8_t[len]);
    if (!section->bytes) return Error::OutOfMemory;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHSrcOffset) return Error::BackendNotAvailable;
    KVN_TRY(checkCopy(ops.memcpyDtoHSrcOffset(section->bytes.get(), frame, len, shape.frame_off + at)));
    return parseSection(section->bytes.get(), len, &section->state);
}

}  // namespace

Error decodeWrtOnStream(DecoderState& decoder, const FrameShape& shape, DeviceBufferHandle frame,
                        DeviceBufferHandle dst, uint64_t decoded, FrameShape* judged) {
    HostSection section;
    KVN_TRY(readSection(shape, frame, &section));
    const uint64_t inner = shape.header.content_size;
    const uint64_t out = section.state.decoded_size;
    // The text comes from the transformed bytes, never from nothing, and is
    // never shorter than they are.
    if (out != decoded || inner == 0 || inner > out) return Error::BadFrame;

    KVN_TRY(ensureDeviceSlot(decoder, kWrtTransformed, inner + kTransformedSlack));
    const DeviceBufferHandle trans = slotHandle(decoder, kWrtTransformed);
    KVN_TRY(decodeFrameBody(decoder, shape, frame, trans));
    // The inverse runs outside the stream once the body is in place.
    KVN_TRY(checkSync(gpuOps().streamSynchronize(decoder.stream)));
    KVN_TRY(wrtInverseOnDevice(section.state, decoder, trans, inner, dst, out));

    *judged = shape;
    judged->header.content_size = out;
    judged->chunks = ceilDiv(out, shape.chunk);
    judged->out_off = 0;
    return queueTrailerChecks(decoder, *judged, frame, dst);
}

}  // namespace kvn
