// A device allocation refused in the middle of a call: the call answers
// status 7 (out of memory), like any allocation the caller could retry
// smaller, or succeeds exactly when it did not need the refused one; the
// handle works on afterwards.
#include <string>

#include "core/format/compress_bound.h"
#include "encode_test_support.h"
#include "vulkan/device/device_buffers.h"

namespace kvn::test {
namespace {

struct Outcomes {
    int succeeded = 0;
    int out_of_memory = 0;
};

// Runs `call` on a fresh handle with the allocation after `after` refused,
// then once more with none refused, which must succeed.
template <typename Call>
void refuseOneAllocation(int after, Outcomes* seen, Call call) {
    void* handle = nullptr;
    ASSERT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
    injectDeviceAllocFailure(after);
    const KvnStatus status = call(handle);
    injectDeviceAllocFailure(-1);
    EXPECT_TRUE(status == KVN_STATUS_SUCCESS || status == KVN_STATUS_OUT_OF_MEMORY)
        << "allocation " << after << ": status " << status;
    seen->succeeded += status == KVN_STATUS_SUCCESS;
    seen->out_of_memory += status == KVN_STATUS_OUT_OF_MEMORY;
    EXPECT_EQ(call(handle), KVN_STATUS_SUCCESS) << "after allocation " << after;
    EXPECT_EQ(kvnDestroy(handle), KVN_STATUS_SUCCESS);
}

TEST_F(EncodeTest, RefusedDeviceAllocationsAreOutOfMemory) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no encode or decode kernels yet";
    const Bytes input = realFile("/usr/include/vulkan/vulkan_core.h", 200000);
    const CompressOpts opts = withTrailers(2);
    const Bytes frame = compressOk(input, opts);
    ASSERT_FALSE(frame.empty());

    // The first allocations of a handle's first call; once the refusal
    // falls past the last of them, the calls simply succeed.
    constexpr int kAllocations = 24;
    Outcomes compressed, decompressed;
    for (int after = 0; after < kAllocations; ++after) {
        refuseOneAllocation(after, &compressed, [&](void* handle) {
            Bytes out(compressBound(input.size()));
            uint64_t size = 0;
            const KvnStatus s = kvnCompressHost(handle, input.data(), input.size(), out.data(), out.size(), &size, &opts);
            if (s == KVN_STATUS_SUCCESS) {
                EXPECT_EQ(Bytes(out.begin(), out.begin() + size), frame);
            }
            return s;
        });
        refuseOneAllocation(after, &decompressed, [&](void* handle) {
            Bytes out(input.size() + 64);
            uint64_t size = 0;
            DecompressOpts dopts{};
            const KvnStatus s = kvnDecompressHost(handle, frame.data(), frame.size(), out.data(), out.size(), &size, &dopts);
            if (s == KVN_STATUS_SUCCESS) {
                EXPECT_TRUE(size == input.size() && Bytes(out.begin(), out.begin() + size) == input);
            }
            return s;
        });
    }
    EXPECT_GT(compressed.out_of_memory, 0) << "no compress met a refused allocation";
    EXPECT_GT(decompressed.out_of_memory, 0) << "no decompress met a refused allocation";
    EXPECT_GT(compressed.succeeded, 0);
    EXPECT_GT(decompressed.succeeded, 0);
}

}  // namespace
}  // namespace kvn::test
