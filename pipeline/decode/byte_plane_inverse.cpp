#include "pipeline/decode/byte_plane_inverse.h"

#include <cstring>

#include "core/platform/platform.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"

namespace kvn {
namespace {

// One thread per byte in groups of 256, and at most this many groups per dispatch.
constexpr uint64_t kInterleaveGroup = 256;
constexpr uint64_t kMaxInterleaveGroups = 65535;

}  // namespace

Error bytePlaneInverseCpu(uint8_t* bytes, uint64_t n, uint8_t stride, uint64_t block) {
    if (n == 0) return Error::None;
    uint8_t* planes = static_cast<uint8_t*>(allocPages(n));
    if (!planes) return Error::OutOfMemory;
    std::memcpy(planes, bytes, n);
    const uint64_t step = block == 0 ? n : block;
    for (uint64_t start = 0; start < n; start += step) {
        const uint64_t len = n - start < step ? n - start : step;
        if (len < stride || len % stride != 0) continue;  // left as it is
        const uint64_t elements = len / stride;
        const uint8_t* in = planes + start;
        uint8_t* out = bytes + start;
        for (uint64_t b = 0; b < stride; ++b)
            for (uint64_t e = 0; e < elements; ++e) out[e * stride + b] = in[b * elements + e];
    }
    freePages(planes, n);
    return Error::None;
}

Error bytePlaneInverseGpu(DecoderState& decoder, DeviceBufferHandle planes, DeviceBufferHandle elements, uint64_t n,
                          uint8_t stride, uint64_t block, StreamHandle stream) {
    if (n == 0) return Error::None;
    const std::optional<KernelHandle> interleave = getKernelHandle(&DecodeKernelHandles::byte_plane_interleave_fn);
    if (!interleave) return Error::KernelMissing;
    const uint64_t groups = (n + kInterleaveGroup - 1) / kInterleaveGroup;
    if (groups > kMaxInterleaveGroups || block > UINT32_MAX) return Error::BadMode;
    KernelCall call(*interleave, uint32_t(groups));
    call.buffer(planes).buffer(elements).word(uint32_t(n)).word(stride).word(uint32_t(block));
    return call.launch(decoder, stream, "kvnBytePlaneInterleaveKernel");
}

}  // namespace kvn
