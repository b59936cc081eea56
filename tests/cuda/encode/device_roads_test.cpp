// kvnCompressAsync of the CUDA library from a device source into a device
// destination, on the stand-in driver: several frames, each the frame the
// host road writes, nothing past the destination's capacity, and the frames
// decode back from device memory with kvnDecompressAsync. With a caller's
// non-blocking stream, what the caller queued before the call is in the
// source when it is read, and the frames are in the destination for work
// the caller queues after it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/format/frame_walk.h"
#include "tests/cuda/decode/frame_cases.h"
#include "tests/cuda/support/cuda_road.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct DeviceFrames {
    KvnStatus status;
    Bytes frames;
    bool guard_intact;
};

// The input uploaded and compressed into a destination of the compress
// bound. With a stream, the upload, the call and the read-back of the
// destination are all ordered by that stream alone.
DeviceFrames compressOnDevice(DeviceRoad& road, const Bytes& input, const CompressOpts& opts, StreamHandle stream) {
    const GpuOpsTable& ops = gpuOps();
    const uint64_t src = road.upload(Bytes(input.size(), 0));
    if (stream) {
        EXPECT_EQ(ops.memcpyHtoDAsync(src, input.data(), input.size(), stream), Error::None);
    } else {
        EXPECT_EQ(ops.memcpyHtoD(src, input.data(), input.size()), Error::None);
    }
    uint64_t cap = 0;
    EXPECT_EQ(kvnCompressBound(road.get(), input.size(), 0, &cap), KVN_STATUS_SUCCESS);
    const uint64_t dst = road.guardedDestination(cap);
    uint64_t size = 0;
    const KvnStatus status = kvnCompressAsync(road.get(), src, input.size(), dst, cap, &size, &opts, stream);
    Bytes all(cap + kRoadGuardBytes);
    if (stream) {
        EXPECT_EQ(ops.memcpyDtoHAsync(all.data(), dst, all.size(), stream), Error::None);
        EXPECT_EQ(ops.streamSynchronize(stream), Error::None);
    } else {
        EXPECT_EQ(ops.memcpyDtoH(all.data(), dst, all.size()), Error::None);
    }
    DeviceFrames out{status, {}, true};
    for (uint64_t i = cap; i < all.size(); ++i) out.guard_intact &= all[i] == kRoadGuard;
    if (status == KVN_STATUS_SUCCESS) out.frames.assign(all.begin(), all.begin() + size);
    return out;
}

void expectDeviceRoundTrips(StreamHandle stream) {
    setenv("KVN_FRAME_CAP", "65536", 1);
    DeviceRoad road(kCudaRoad);
    const Bytes text = repetitiveText(150000, 31);
    CompressOpts planes = optionsAt(1);
    planes.byte_plane_stride = 4;
    const struct {
        std::string name;
        CompressOpts opts;
    } cases[] = {{"level 1", optionsAt(1)}, {"level 3", optionsAt(3)}, {"level 4, small chunks",
                                                                          withChunkSize(optionsAt(4), 1.0f / 16)},
                 {"level 2, stride 4", planes}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DeviceFrames device = compressOnDevice(road, text, c.opts, stream);
        ASSERT_EQ(device.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(device.guard_intact);
        uint64_t frames = 0;
        for (uint64_t at = 0; at < device.frames.size(); ++frames) {
            const FrameStep step = nextFrame(device.frames.data(), device.frames.size(), at);
            if (step.ends_input || step.error != Error::None) break;
            at += step.length;
        }
        EXPECT_GE(frames, 3u) << "a frame cap of 64 KiB cuts the input into three frames";
        EXPECT_TRUE(device.frames == cudaCompress(text, c.opts).bytes) << "the host road writes the same frames";
        const DeviceDecoded back = road.decode(device.frames, text.size());
        EXPECT_EQ(back.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(back.bytes == text);
        EXPECT_TRUE(back.guard_intact);
    }
}

TEST(CudaDeviceCompress, SeveralFramesRoundTripThroughDeviceMemory) {
    inChildProcess([] { expectDeviceRoundTrips(0); });
}

TEST(CudaDeviceCompress, CallersNonBlockingStreamOrdersTheCall) {
    inChildProcess([] {
        DeviceRoad road(kCudaRoad);
        StreamHandle stream = 0;
        ASSERT_EQ(gpuOps().streamCreate(&stream, 1), Error::None);
        expectDeviceRoundTrips(stream);
        EXPECT_EQ(gpuOps().streamDestroy(stream), Error::None);
    });
}

}  // namespace
}  // namespace kvn::test
