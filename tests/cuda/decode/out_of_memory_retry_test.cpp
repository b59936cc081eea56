// kvnDecompressAsync of the CUDA library when device memory runs out: the
// decode is tried once more after the handle's encoder buffers (kept from an
// earlier compress) are released, and succeeds when that makes room; a
// handle whose encoder holds nothing gets status 7 at once.
#include <gtest/gtest.h>

#include "tests/cuda/decode/frame_cases.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_road.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

uint64_t usedDeviceBytes() {
    uint64_t free_bytes = 0, total = 0;
    EXPECT_EQ(gpuOps().memGetInfo(&free_bytes, &total), Error::None);
    return total - free_bytes;
}

uint64_t decoderHeldBytes(void* handle) {
    uint64_t bytes = 0;
    EXPECT_EQ(kvnDecoderHeldBytes(handle, &bytes, nullptr), KVN_STATUS_SUCCESS);
    return bytes;
}

TEST(CudaDeviceDecodeMemory, RetriedOnceTheEncoderBuffersAreReleased) {
    inChildProcess([] {
        DeviceRoad road(kCudaRoad);
        const Bytes content = repetitiveText(400000, 41);
        const CompressOpts opts = optionsAt(3);
        Bytes frames(content.size() + 4096);
        uint64_t size = 0;
        const uint64_t before_compress = usedDeviceBytes();
        ASSERT_EQ(kvnCompressHost(road.get(), content.data(), content.size(), frames.data(), frames.size(), &size,
                                  &opts),
                  KVN_STATUS_SUCCESS);
        frames.resize(size);
        const uint64_t encoder_held = usedDeviceBytes() - before_compress;

        // What the decode grows, on a handle of its own.
        uint64_t decoder_needs = 0;
        {
            DeviceRoad other(kCudaRoad);
            const DeviceDecoded d = other.decode(frames, content.size());
            ASSERT_EQ(d.status, KVN_STATUS_SUCCESS);
            decoder_needs = decoderHeldBytes(other.get());
        }
        // Short of what the decode grows by half of what the encoder holds.
        ASSERT_GT(encoder_held, 0u);
        ASSERT_LT(encoder_held / 2, decoder_needs);
        const uint64_t short_of_needs = decoder_needs - encoder_held / 2;

        const uint64_t in = road.upload(frames);
        const uint64_t out = road.guardedDestination(content.size());
        standIn().setMemory(usedDeviceBytes() + short_of_needs);
        DecompressOpts decode_opts{};
        EXPECT_EQ(kvnDecompressAsync(road.get(), in, uint32_t(frames.size()), out, uint32_t(content.size()),
                                     &decode_opts, 0),
                  KVN_STATUS_SUCCESS);
        const DeviceDecoded d = road.read(out, content.size(), int64_t(content.size()));
        EXPECT_TRUE(d.bytes == content);
        EXPECT_TRUE(d.guard_intact);

        // The encoder holds nothing now: the same shortage is reported.
        ASSERT_EQ(kvnReleaseDecoderBuffers(road.get()), KVN_STATUS_SUCCESS);
        standIn().setMemory(usedDeviceBytes() + short_of_needs);
        EXPECT_EQ(kvnDecompressAsync(road.get(), in, uint32_t(frames.size()), out, uint32_t(content.size()),
                                     &decode_opts, 0),
                  KVN_STATUS_OUT_OF_MEMORY);
    });
}

}  // namespace
}  // namespace kvn::test
