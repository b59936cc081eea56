// The decode batch cap on CUDA: the decoded streams of a large batch are held
// in windows that fit the free device memory.
#include <algorithm>

#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint64_t kFloor = 256;
// The decoded-stream scratch a sub-chunk may need: three areas of 128 KiB.
constexpr uint64_t kScratchPerSubchunk = 0x60000;

}  // namespace

// A batch whose scratch would take more than three quarters of the free
// memory is capped at one sub-chunk per free MiB, at least 256.
uint64_t decodeBatchCap(uint64_t subchunks) {
    const GpuOpsTable& ops = gpuOps();
    uint64_t free_bytes = 0, total = 0;
    if (!ops.memGetInfo || ops.memGetInfo(&free_bytes, &total) != Error::None || free_bytes == 0) return kFloor;
    if ((free_bytes >> 2) * 3 < subchunks * kScratchPerSubchunk)
        return std::max(kFloor, std::min(free_bytes >> 20, subchunks));
    return subchunks;
}

}  // namespace kvn
