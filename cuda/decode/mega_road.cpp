// The CUDA library's decode of a whole multi-frame input in one launch: the
// cooperative kernel walks and decodes every frame; the frames' chunk
// prefixes, Merkle verdicts and checksums follow on the shared road. An input
// the kernel's walk refuses is left to that road's dispatches.
#include "cuda/decode/mega_decode.h"
#include "cuda/decode/mega_diagnostics.h"
#include "cuda/device/cuda_context.h"
#include "pipeline/decode/device_frame_decode.h"
#include "pipeline/decode/device_mega.h"

namespace kvn {

Error decodeInOneLaunch(const DeviceDecompressJob& job, DecoderState& decoder, uint64_t total, bool* decoded) {
    *decoded = false;
    if (!init() || !cudaContext().decode_kernels.mega_decode_fn) return Error::None;
    const MegaDecode mega = decodeMega(job.dev_src, job.src_len, job.dev_dst, &decoder, job.dst_cap);
    if (mega.error == Error::BadMode && mega.meta.status != 0) reportWalkStatus(mega.meta.status, job.src_len, total);
    // What the launch cannot take (a refused frame, too many sub-chunks or
    // tiles, a missing driver entry) the dispatches decode.
    if (mega.error == Error::BadMode || mega.error == Error::KernelMissing ||
        mega.error == Error::BackendNotAvailable || mega.error == Error::BadRequest)
        return Error::None;
    KVN_TRY(mega.error);
    // The headers' content sizes and the blocks the kernel walked disagree.
    if (mega.bytes != total) return Error::BadFrame;
    *decoded = true;
    return Error::None;
}

void reportWalkStatus(uint32_t status, uint64_t input_bytes, uint64_t decoded) {
    printWalkStatus(status, input_bytes, decoded);
}

}  // namespace kvn
