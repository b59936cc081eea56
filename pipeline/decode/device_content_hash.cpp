#include "pipeline/decode/device_content_hash.h"

#include <algorithm>
#include <cstdio>

#include "kernels/format_constants.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint64_t kStripeBytes = 16;

}  // namespace

Error queueContentHash(DecoderState& decoder, StreamHandle stream, DeviceBufferHandle bytes, uint64_t at,
                       uint64_t len, uint32_t expected) {
    const std::optional<KernelHandle> hash = getKernelHandle(&DecodeKernelHandles::content_hash_fn);
    if (!hash) return Error::KernelMissing;
    // The kernel counts stripes in 32 bits.
    const uint64_t stripes = len / kStripeBytes;
    if (stripes >= KVN_CONTENT_HASH_BROKEN) return Error::BadMode;
    KVN_TRY(ensureDeviceSlot(decoder, kContentHashCell, 4 * KVN_CONTENT_HASH_CELL_WORDS));
    const uint64_t base = bufferDeviceAddress(bytes);
    if (base == 0) return Error::BackendNotAvailable;
    // XXH32 chains its stripes: one pass after another, each carrying the
    // lanes to the next through the cell; the last one writes the verdict.
    uint64_t first = 0;
    do {
        const uint64_t count = std::min<uint64_t>(stripes - first, KVN_CONTENT_HASH_PASS_STRIPES);
        KVN_TRY(computeBarrier(stream));
        // The kernel reads from an address that keeps 4-byte alignment.
        const uint64_t start = base + at + kStripeBytes * first;
        KernelCall pass(*hash, 1);
        pass.buffer(slotHandle(decoder, kContentHashCell)).wide(start & ~uint64_t{3}).word(uint32_t(start & 3));
        pass.word(uint32_t(first)).word(uint32_t(count)).wide(len).word(expected);
        KVN_TRY(pass.launch(decoder, stream, "kvnContentHashKernel"));
        first += count;
    } while (first < stripes);
    return Error::None;
}

Error contentHashVerdict(const DecoderState& decoder) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoH) return Error::BackendNotAvailable;
    int32_t verdict = kVerdictNone;
    KVN_TRY(checkCopy(ops.memcpyDtoH(&verdict, slotHandle(decoder, kContentHashCell), 4)));
    if (verdict == kVerdictMatch) return Error::None;
    if (verdict == kVerdictMismatch) return Error::ChecksumMismatch;
    std::fprintf(stderr, "error: the device did not fold every byte of the content checksum (loop budget)\n");
    return Error::GpuPipelineFailed;
}

}  // namespace kvn
