// The encoder's measurements as the CUDA library reports them on standard
// error, each when its variable is set (read at each report): KVN_LZ_TIMER
// for a frame's LZ stage, KVN_HUFF_TIMER for a Huffman batch, and
// KVN_CL_CENSUS for the code-length census of a census build of the
// Huffman module, which this library does not carry.
#include <cstdio>

#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/encode_kernels.h"

namespace kvn {

void reportLzStageTimes(int32_t level, double upload_ms, double launch_ms) {
    if (envPresent("KVN_LZ_TIMER"))
        std::fprintf(stderr, "lz-timer: h2d %.2f launch+sync %.2f ms (level %d)\n", upload_ms, launch_ms, int(level));
}

void reportHuffmanBatch(uint64_t streams, uint32_t largest_count, const double (&phase_ms)[kHuffBatchPhases]) {
    if (envPresent("KVN_HUFF_TIMER"))
        std::fprintf(stderr, "huff-timer n=%llu max_src=%u: ensure %.2f h2d+sync %.2f launch %.2f ksync %.2f d2h %.2f ms\n",
                     static_cast<unsigned long long>(streams), unsigned(largest_count), phase_ms[0], phase_ms[1],
                     phase_ms[2], phase_ms[3], phase_ms[4]);
    // The carried module keeps no census counters.
    if (envPresent("KVN_CL_CENSUS") && encodeKernels().huff_build_tables_fn)
        std::fprintf(stderr, "[cl-census] absent (PTX built without -DKVN_CL_CENSUS)\n");
}

}  // namespace kvn
