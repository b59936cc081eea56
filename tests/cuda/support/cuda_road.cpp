#include "tests/cuda/support/cuda_road.h"

namespace kvn::test {
namespace {

void* createHandle() {
    void* handle = nullptr;
    EXPECT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
    return handle;
}

void destroyHandle(void* handle) { kvnDestroy(handle); }

int64_t decodeAsync(void* handle, uint64_t in, const std::vector<uint8_t>& src, uint64_t out, uint64_t cap,
                    const DecompressOpts& opts) {
    const KvnStatus status = kvnDecompressAsync(handle, in, uint32_t(src.size()), out, uint32_t(cap), &opts, 0);
    if (status != KVN_STATUS_SUCCESS) return -int64_t{status};
    uint64_t total = 0;
    EXPECT_EQ(kvnGetTotalDecompressedSize(handle, src.data(), src.size(), &total), KVN_STATUS_SUCCESS);
    return int64_t(total);
}

}  // namespace

// The whole-input road is one cooperative launch, which walks the frames itself.
const RoadLibrary kCudaRoad{createHandle, destroyHandle, decodeAsync, "kvnD2dMegaDecodeKernel", false, true, true};

}  // namespace kvn::test
