// A fence wait that reports a wedged device: the call that met it fails with
// a device status, and every later call, on that handle and on new ones,
// answers with a status too, never a crash. The wedge is injected: the wait
// gives up at once, with the work possibly still running, as a real timeout
// would. The wedge is for good, so it happens in a child process that ends
// without exit handlers, as a wedged process should be restarted.
#include <vector>

#include "core/format/compress_bound.h"
#include "encode_test_support.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/test_support.h"

namespace kvn::test {
namespace {

// Every compress, decompress, size and timing call on `handle`: statuses, no crash.
void expectStatusesOnly(void* handle, const Bytes& input, const Bytes& frame) {
    Bytes out(compressBound(input.size()));
    uint64_t size = 0;
    CompressOpts copts{};
    copts.level = 2;
    copts.merkle_root = 1;
    copts.record_timings = 1;
    DecompressOpts dopts{};
    dopts.record_timings = 1;
    EXPECT_EQ(kvnCompressHost(handle, input.data(), input.size(), out.data(), out.size(), &size, &copts),
              KVN_STATUS_DEVICE_CALL_FAILED);
    EXPECT_EQ(kvnDecompressHost(handle, frame.data(), frame.size(), out.data(), out.size(), &size, &dopts),
              KVN_STATUS_DEVICE_CALL_FAILED);
    EXPECT_EQ(kvnCompressHost_vk(handle, input.data(), input.size(), out.data(), out.size(), &copts),
              -int32_t{KVN_STATUS_DEVICE_CALL_FAILED});
    EXPECT_EQ(kvnDecompressHost_vk(handle, frame.data(), frame.size(), out.data(), out.size(), &dopts),
              -int32_t{KVN_STATUS_DEVICE_CALL_FAILED});
    uint64_t content = 0;
    EXPECT_EQ(kvnGetDecompressedSize(handle, frame.data(), &content), 0u) << "a header read needs no device";
    EXPECT_EQ(content, input.size());
    EXPECT_EQ(kvnGetTotalDecompressedSize(handle, frame.data(), frame.size(), &content), 0u);
    uint64_t count = 0;
    EXPECT_EQ(kvnGetLastTimings(handle, nullptr, 0, &count), 0u);
    EXPECT_EQ(kvnReleaseEncoderBuffers(handle), 0u);
    EXPECT_EQ(kvnReleaseDecoderBuffers(handle), 0u);
}

struct Wedge {
    const char* what;
    bool compress;  // the wedge meets a compress, else a decompress
    int waits_before;  // fence waits of the call that finish before the one that gives up
};

class WedgeTest : public EncodeTest, public ::testing::WithParamInterface<Wedge> {};

TEST_P(WedgeTest, LaterCallsAnswerWithStatuses) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no encode or decode kernels yet";
    const Bytes input = realFile("/usr/include/vulkan/vulkan_core.h", 400000);
    const CompressOpts opts = withTrailers(1);
    const Bytes frame = compressOk(input, opts);
    ASSERT_FALSE(frame.empty());

    inChildProcess([&] {
        injectFenceTimeout(GetParam().waits_before);
        Bytes out(compressBound(input.size()));
        uint64_t size = 0;
        if (GetParam().compress) {
            EXPECT_EQ(kvnCompressHost(handle_, input.data(), input.size(), out.data(), out.size(), &size, &opts),
                      KVN_STATUS_DEVICE_CALL_FAILED);
        } else {
            DecompressOpts dopts{};
            EXPECT_EQ(kvnDecompressHost(handle_, frame.data(), frame.size(), out.data(), out.size(), &size, &dopts),
                      KVN_STATUS_DEVICE_CALL_FAILED);
        }
        injectFenceTimeout(-1);

        expectStatusesOnly(handle_, input, frame);
        void* fresh = nullptr;
        const KvnStatus created = kvnCreate(&fresh);
        EXPECT_EQ(created, KVN_STATUS_DEVICE_CALL_FAILED) << "a new handle cannot be had on a wedged device";
        if (created == 0) {
            expectStatusesOnly(fresh, input, frame);
            EXPECT_EQ(kvnDestroy(fresh), 0u);
        }
        void* fresh_vk = nullptr;
        EXPECT_NE(kvnCreate_vk(&fresh_vk), 0u);
        EXPECT_EQ(kvnDestroy(handle_), 0u);
    });
}

INSTANTIATE_TEST_SUITE_P(Wedges, WedgeTest,
                         ::testing::Values(Wedge{"compress_first_wait", true, 0}, Wedge{"compress_later_wait", true, 3},
                                           Wedge{"decompress_first_wait", false, 0},
                                           Wedge{"decompress_later_wait", false, 1}),
                         [](const ::testing::TestParamInfo<Wedge>& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace kvn::test
