// The CUDA library's handle and its host calls through the shared pipelines,
// on the stand-in driver: held bytes, what kvnDestroy gives back, and the
// frame loop on stored-block frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/handle/handle.h"
#include "core/interface/backend.h"
#include "core/timing/timing_records.h"
#include "korvane.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/frame_loop.h"
#include "tests/cuda/stand_in.h"
#include "tests/reference/frame_builder.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes storedFrame(const Bytes& content) {
    ref::FrameOptions options;
    options.checksum = true;
    options.merkle_root = true;
    return ref::FrameBuilder(options).storedBlock(content).finish(content);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct Decoded {
    KvnStatus status;
    Bytes bytes;
};

Decoded decompress(void* handle, const Bytes& src, uint64_t cap) {
    Bytes dst(cap + 1);
    uint64_t size = 0;
    DecompressOpts opts{};
    const KvnStatus status = kvnDecompressHost(handle, src.data(), src.size(), dst.data(), cap, &size, &opts);
    dst.resize(status == KVN_STATUS_SUCCESS ? size : 0);
    return {status, dst};
}

struct Compressed {
    KvnStatus status;
    Bytes bytes;
};

Compressed compress(void* handle, const Bytes& content) {
    uint64_t bound = 0;
    if (kvnCompressBound(handle, content.size(), 0, &bound) != KVN_STATUS_SUCCESS) return {KVN_STATUS_INVALID_ARGUMENT, {}};
    Bytes out(bound);
    uint64_t size = 0;
    CompressOpts opts{};
    kvnCompressDefaultOpts(&opts);
    const KvnStatus status = kvnCompressHost(handle, content.data(), content.size(), out.data(), out.size(), &size, &opts);
    out.resize(status == KVN_STATUS_SUCCESS ? size : 0);
    return {status, out};
}

class Handle {
public:
    Handle() { EXPECT_EQ(kvnCreate(&handle_), KVN_STATUS_SUCCESS); }
    ~Handle() { kvnDestroy(handle_); }
    void* get() const { return handle_; }

private:
    void* handle_ = nullptr;
};

TEST(CudaHandle, HeldBytesOfANewHandleAreZero) {
    inChildProcess([] {
        EXPECT_EQ(kvnCreate(nullptr), KVN_STATUS_INVALID_ARGUMENT);
        uint64_t bytes = 1;
        void* base = &bytes;
        EXPECT_EQ(kvnDecoderHeldBytes(nullptr, &bytes, &base), KVN_STATUS_INVALID_HANDLE);
        Handle handle;
        EXPECT_EQ(kvnDecoderHeldBytes(handle.get(), &bytes, &base), KVN_STATUS_SUCCESS);
        EXPECT_EQ(bytes, 0u);
        EXPECT_EQ(base, nullptr);
        EXPECT_EQ(kvnDecoderHeldBytes(handle.get(), nullptr, nullptr), KVN_STATUS_SUCCESS);
        EXPECT_EQ(kvnDestroy(nullptr), KVN_STATUS_SUCCESS);
    });
}

// The handle's parts made through the same operations the pipelines use:
// growable device buffers on both sides, pinned host buffers, the decoder's
// own stream, pending timing events.
TEST(CudaHandle, DestroyGivesBackEverythingTheHandleMade) {
    inChildProcess([] {
        void* first = nullptr;
        ASSERT_EQ(kvnCreate(&first), KVN_STATUS_SUCCESS);
        kvnDestroy(first);
        // What the process keeps (modules, the default stream) is made by now.
        const StandInCounts before = standInCounts();
        void* made = nullptr;
        ASSERT_EQ(kvnCreate(&made), KVN_STATUS_SUCCESS);
        KvnHandle& handle = *static_cast<KvnHandle*>(made);
        const GpuOpsTable& ops = gpuOps();
        const CoreDeviceOps core_ops = backend().deviceOps();
        ASSERT_EQ(ensureDeviceSlot(handle.decoder.device_slots[0], 4096), Error::None);
        ASSERT_EQ(ensureDeviceSlot(handle.decoder.device_slots[5], 100), Error::None);
        ASSERT_EQ(ensureDeviceSlot(handle.decoder.dict_buffer, 64), Error::None);
        ASSERT_EQ(ensureDeviceSlot(handle.encoder.device_buffers[3], 1000), Error::None);
        for (HostBuffer* buffer : {&handle.decoder.host_buffers[0], &handle.encoder.host_buffers[1]}) {
            ASSERT_EQ(ops.memAllocHost(&buffer->pointer, 256), Error::None);
            buffer->bytes = 256;
        }
        ASSERT_EQ(ops.streamCreate(&handle.decoder.own_stream, 1), Error::None);
        handle.decoder.own_stream_created = true;
        EXPECT_TRUE(beginKernelTiming(core_ops, true, handle.decoder.pending_timings, "decode", 0).ok);
        EXPECT_TRUE(beginKernelTiming(core_ops, true, handle.encoder.pending_timings, "encode", 0).ok);

        uint64_t held = 0;
        EXPECT_EQ(kvnDecoderHeldBytes(made, &held, nullptr), KVN_STATUS_SUCCESS);
        EXPECT_EQ(held, handle.decoder.device_slots[0].capacity + handle.decoder.device_slots[5].capacity +
                            handle.decoder.dict_buffer.capacity);
        EXPECT_GE(held, 4096u + 100 + 64);
        const StandInCounts during = standInCounts();
        EXPECT_EQ(during.allocations, before.allocations + 4);
        EXPECT_EQ(during.host_allocations, before.host_allocations + 2);
        EXPECT_EQ(during.streams, before.streams + 1);
        EXPECT_EQ(during.events, before.events + 4);

        EXPECT_EQ(kvnDestroy(made), KVN_STATUS_SUCCESS);
        const StandInCounts after = standInCounts();
        EXPECT_EQ(after.allocations, before.allocations);
        EXPECT_EQ(after.host_allocations, before.host_allocations);
        EXPECT_EQ(after.streams, before.streams);
        EXPECT_EQ(after.events, before.events);
    });
}

TEST(CudaHandle, ReleasingTheDecoderBuffersEmptiesHeldBytes) {
    inChildProcess([] {
        Handle handle;
        KvnHandle& h = *static_cast<KvnHandle*>(handle.get());
        ASSERT_EQ(ensureDeviceSlot(h.decoder.device_slots[2], 5000), Error::None);
        uint64_t held = 0;
        EXPECT_EQ(kvnDecoderHeldBytes(handle.get(), &held, nullptr), KVN_STATUS_SUCCESS);
        EXPECT_GE(held, 5000u);
        EXPECT_EQ(kvnReleaseDecoderBuffers(handle.get()), KVN_STATUS_SUCCESS);
        EXPECT_EQ(kvnDecoderHeldBytes(handle.get(), &held, nullptr), KVN_STATUS_SUCCESS);
        EXPECT_EQ(held, 0u);
    });
}

TEST(CudaFrameLoop, TwoFramesThenTrailingZeros) {
    inChildProcess([] {
        Handle handle;
        const Bytes a = sampleBytes(3000, 2);
        const Bytes b = sampleBytes(700, 3);
        const Bytes input = concat({storedFrame(a), storedFrame(b), Bytes(10, 0)});
        const Decoded d = decompress(handle.get(), input, 4000);
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == concat({a, b}));
        EXPECT_EQ(kvnGetPipelineRetries(handle.get()), 0u);
    });
}

TEST(CudaFrameLoop, ZerosAloneAreNoFrame) {
    inChildProcess([] {
        Handle handle;
        EXPECT_EQ(decompress(handle.get(), Bytes(10, 0), 100).status, KVN_STATUS_CORRUPT_FRAME);
    });
}

TEST(CudaFrameLoop, AChecksumMismatchIsRetriedOnce) {
    inChildProcess([] {
        Handle handle;
        const Bytes content = sampleBytes(2000, 4);
        const Bytes frames = concat({storedFrame(content), storedFrame(content)});
        injectChecksumFaults(1);
        Decoded d = decompress(handle.get(), frames, 4000);
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == concat({content, content}));
        EXPECT_EQ(kvnGetPipelineRetries(handle.get()), 1u);
        injectChecksumFaults(2);
        EXPECT_EQ(decompress(handle.get(), frames, 4000).status, KVN_STATUS_CORRUPT_FRAME);
        EXPECT_EQ(kvnGetPipelineRetries(handle.get()), 2u);
    });
}

TEST(CudaFrameLoop, SmallInputsRoundTripAsStoredFrames) {
    inChildProcess([] {
        Handle handle;
        const Bytes content = sampleBytes(100, 5);
        const Compressed compressed = compress(handle.get(), content);
        ASSERT_EQ(compressed.status, KVN_STATUS_SUCCESS);
        const Decoded d = decompress(handle.get(), compressed.bytes, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
    });
}

// A compress call whose driver call fails reports the failure's cause (out
// of memory 7, any other 6) and leaves nothing behind: the next call on the
// same handle writes frames that decode.
TEST(CudaKernels, AFailedDriverCallFailsTheCompressWithItsCause) {
    struct Case {
        const char* call;
        CuResult code;
        KvnStatus status;
    };
    const Case cases[] = {
        {"cuLaunchKernel", 719, KVN_STATUS_DEVICE_CALL_FAILED},  // launch failed
        {"cuLaunchKernel", 2, KVN_STATUS_OUT_OF_MEMORY},
        {"cuMemAlloc_v2", 2, KVN_STATUS_OUT_OF_MEMORY},
        {"cuMemcpyDtoHAsync_v2", 1, KVN_STATUS_DEVICE_CALL_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.code));
        inChildProcess([&] {
            Handle handle;
            const Bytes content = sampleBytes(4000, 6);
            standIn().failCall(c.call, 0, c.code);
            EXPECT_EQ(compress(handle.get(), content).status, c.status);
            const Compressed again = compress(handle.get(), content);
            ASSERT_EQ(again.status, KVN_STATUS_SUCCESS);
            const Decoded d = decompress(handle.get(), again.bytes, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content);
        });
    }
}

}  // namespace
}  // namespace kvn::test
