#include "pipeline/encode/wrt_encode_gpu.h"

#include <atomic>

#include "pipeline/encode/encode_kernels.h"

namespace kvn {
namespace {

std::atomic<uint64_t> g_wrt_gpu_ns{0};

bool wrtPipelinesBuilt() {
    const EncodeKernelHandles& k = encodeKernels();
    return k.wrt_count_fn && k.wrt_compact_fn && k.wrt_assign_fn && k.wrt_encode_fn && k.wrt_gather_fn;
}

}  // namespace

bool wrtEncodeGpu(WrtEncodeResult* result, EncoderState& encoder, const uint8_t* text, uint64_t n, bool* not_applied) {
    (void)encoder;
    (void)text;
    (void)n;
    *result = WrtEncodeResult{};
    *not_applied = false;
    if (!wrtPipelinesBuilt()) return false;
    return false;
}

void freeWrtEncodeResult(WrtEncodeResult* result) {
    result->text = 0;
    result->section = WrtSectionBlob{};
}

uint64_t wrtGpuElapsedNs() { return g_wrt_gpu_ns.load(); }

}  // namespace kvn
