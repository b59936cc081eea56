#include "pipeline/encode/frame_source.h"

#include <new>

#include "pipeline/device/device_ops.h"

namespace kvn {

Error copySourceToDevice(const uint8_t* src, uint64_t len, const EncoderState& encoder, DeviceBufferHandle dst,
                         StreamHandle stream) {
    const GpuOpsTable& ops = gpuOps();
    if (len == 0) return Error::None;
    if (!sourceOnDevice(encoder)) {
        if (stream) return ops.memcpyHtoDAsync ? ops.memcpyHtoDAsync(dst, src, len, stream) : Error::BackendNotAvailable;
        return ops.memcpyHtoD ? ops.memcpyHtoD(dst, src, len) : Error::BackendNotAvailable;
    }
    if (!ops.memcpyDtoDSrcOffsetAsync || !ops.ctxSynchronize) return Error::BackendNotAvailable;
    KVN_TRY(ops.memcpyDtoDSrcOffsetAsync(dst, encoder.dev_src, encoder.dev_src_offset, len, stream));
    return stream ? Error::None : ops.ctxSynchronize();
}

HostSource hostSourceBytes(const uint8_t* src, uint64_t len, const EncoderState& encoder) {
    HostSource out;
    if (!sourceOnDevice(encoder) || len == 0) {
        out.bytes = src;
        return out;
    }
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHSrcOffset) {
        out.error = Error::BackendNotAvailable;
        return out;
    }
    out.copy.reset(new (std::nothrow) uint8_t[len]);
    if (!out.copy) {
        out.error = Error::OutOfMemory;
        return out;
    }
    out.error = ops.memcpyDtoHSrcOffset(out.copy.get(), encoder.dev_src, len, encoder.dev_src_offset);
    if (out.error == Error::None) out.bytes = out.copy.get();
    return out;
}

WrittenBytes writeStoredSource(uint8_t* dst, uint64_t cap, uint64_t header_len, const uint8_t* src, uint64_t len,
                               const EncoderState& encoder) {
    const HostSource bytes = hostSourceBytes(src, len, encoder);
    if (bytes.error != Error::None) return {0, bytes.error};
    return writeStoredBody(dst, cap, header_len, bytes.bytes, len);
}

}  // namespace kvn
