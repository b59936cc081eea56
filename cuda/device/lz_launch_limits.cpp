// How the LZ stage sizes its launches on CUDA: blocks from the device's
// multiprocessors and L2 cache, and the variables that change them.
#include <algorithm>

#include "core/platform/platform.h"
#include "cuda/device/cuda_context.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint32_t kLowestHashBits = 10;
constexpr uint32_t kHighestHashBits = 22;

// An unsigned decimal variable; 0 when unset or unparsable.
uint64_t envCount(const char* name) { return envInteger(name, 0xFFFFFFFFull).value_or(0); }

}  // namespace

// KVN_HASH_BITS from 10 to 22; anything else leaves the level's bits.
uint32_t lzHashBitsOverride() {
    const uint64_t bits = envCount("KVN_HASH_BITS");
    return bits >= kLowestHashBits && bits <= kHighestHashBits ? uint32_t(bits) : 0;
}

// Between 5 and 16 blocks per multiprocessor, as many as keep the tables of
// a launch within 55% of the L2 cache; KVN_LZ_BLOCKS replaces it.
uint64_t lzBlockCap(uint64_t table_bytes) {
    if (const uint64_t forced = envCount("KVN_LZ_BLOCKS")) return forced;
    const CudaContext& ctx = cudaContext();
    const uint64_t sms = smCountOrDefault(ctx);
    const uint64_t l2 = l2BytesOrDefault(ctx);
    const uint64_t budget = l2 * 55 / 100;
    const uint64_t fitting = budget >= 2 * table_bytes ? budget / (2 * table_bytes) : 0;
    return std::min(16 * sms, std::max(5 * sms, fitting));
}

// KVN_FORCE_BATCH, read at each frame.
uint32_t lzForcedBatch() { return uint32_t(envCount("KVN_FORCE_BATCH")); }

// A GPU parses a frame in milliseconds: one launch unless forced.
uint64_t lzLaunchInputBytes() { return 0; }

}  // namespace kvn
