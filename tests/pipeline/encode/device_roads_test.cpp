// Compression of a source in device memory, into device memory or the host:
// every frame, stored and empty ones included, is the frame the host road
// writes for the same bytes (the source is read from the device, never
// through the host placeholder), each frame lands at its own offset of a
// device destination, nothing is written past the destination's capacity,
// and what the caller queued on its stream is in the source before the
// encode reads it. The results are checked by downloading them and decoding
// on the host.

#include <algorithm>
#include <cstring>

#include "core/encode/frame_header_writer.h"
#include "core/format/compress_bound.h"
#include "core/format/frame_header.h"
#include "encode_test_support.h"
#include "pipeline/device/device_ops.h"

namespace kvn::test {
namespace {

constexpr uint8_t kUnwritten = 0xEE;
constexpr uint64_t kGuardBytes = 64;

// A device buffer of the library, freed with the test.
class DeviceBytes {
public:
    DeviceBytes(void* handle, uint64_t size) : handle_(handle) {
        EXPECT_EQ(kvnVkDeviceAlloc(handle, size ? size : 1, &buffer_), 0u);
    }
    ~DeviceBytes() {
        if (buffer_) kvnVkDeviceFree(handle_, buffer_);
    }
    DeviceBytes(const DeviceBytes&) = delete;
    DeviceBytes& operator=(const DeviceBytes&) = delete;

    uint64_t id() const { return buffer_; }
    void upload(const Bytes& bytes) const {
        if (!bytes.empty()) ASSERT_EQ(kvnVkH2D(handle_, buffer_, bytes.data(), bytes.size()), 0u);
    }
    Bytes download(uint64_t n) const {
        Bytes out(n);
        if (n) EXPECT_EQ(kvnVkD2H(handle_, out.data(), buffer_, n), 0u);
        return out;
    }

private:
    void* handle_;
    uint64_t buffer_ = 0;
};

// A destination of the compress bound and guard bytes after it, all unwritten.
struct Destination {
    uint64_t cap;
    DeviceBytes bytes;
    Destination(void* handle, uint64_t input_len)
        : cap(compressBound(input_len)), bytes(handle, cap + kGuardBytes) {
        bytes.upload(Bytes(cap + kGuardBytes, kUnwritten));
    }
    // The frames, after checking that nothing past the capacity was written.
    Bytes frames(uint64_t size) const {
        const Bytes all = bytes.download(cap + kGuardBytes);
        for (uint64_t i = cap; i < all.size(); ++i)
            if (all[i] != kUnwritten) {
                ADD_FAILURE() << "byte " << i << " written past the capacity of " << cap << " bytes";
                break;
            }
        return Bytes(all.begin(), all.begin() + static_cast<ptrdiff_t>(size));
    }
    bool untouched() const {
        const Bytes all = bytes.download(cap + kGuardBytes);
        return all == Bytes(all.size(), kUnwritten);
    }
};

class DeviceRoadsTest : public EncodeTest {
protected:
    void SetUp() override {
        EncodeTest::SetUp();
        if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
        ASSERT_EQ(kvnCreate_vk(&vk_handle_), 0u);
    }
    void TearDown() override {
        if (vk_handle_) kvnDestroy_vk(vk_handle_);
        EncodeTest::TearDown();
    }

    // kvnCompressAsync from a device copy of input into a device destination;
    // the frames downloaded.
    Bytes compressDeviceToDevice(const Bytes& input, const CompressOpts& opts, uint64_t stream = 0) {
        const DeviceBytes src(handle_, input.size());
        src.upload(input);
        const Destination dst(handle_, input.size());
        uint64_t size = 0;
        EXPECT_EQ(kvnCompressAsync(handle_, src.id(), input.size(), dst.bytes.id(), dst.cap, &size, &opts, stream), 0u);
        return dst.frames(size);
    }

    // kvnCompress_vk with registered device buffers on one side or both; the
    // frames (downloaded from a device destination).
    Bytes compressRegistered(const Bytes& input, const CompressOpts& opts, bool source_on_device,
                             bool destination_on_device) {
        const DeviceBytes src(vk_handle_, input.size());
        src.upload(input);
        EXPECT_EQ(kvnRegisterBuffer_vk(vk_handle_, 0, src.id(), 1), 0u);
        const uint8_t none = 0;
        const uint64_t source = source_on_device ? src.id()
                                                 : reinterpret_cast<uint64_t>(input.empty() ? &none : input.data());
        const Destination device(vk_handle_, input.size());
        EXPECT_EQ(kvnRegisterBuffer_vk(vk_handle_, 0, device.bytes.id(), 1), 0u);
        Bytes host(device.cap + kGuardBytes, kUnwritten);
        const uint64_t destination =
            destination_on_device ? device.bytes.id() : reinterpret_cast<uint64_t>(host.data());
        const int32_t result = kvnCompress_vk(vk_handle_, source, input.size(), destination, device.cap, &opts);
        EXPECT_GT(result, 0);
        const uint64_t size = result > 0 ? static_cast<uint64_t>(result) : 0;
        kvnUnregisterBuffer_vk(vk_handle_, device.bytes.id());
        kvnUnregisterBuffer_vk(vk_handle_, src.id());
        if (destination_on_device) return device.frames(size);
        EXPECT_TRUE(std::all_of(host.begin() + static_cast<ptrdiff_t>(device.cap), host.end(),
                                [](uint8_t b) { return b == kUnwritten; }));
        host.resize(size);
        return host;
    }

    void* vk_handle_ = nullptr;
};

Bytes counters(uint32_t n) {
    Bytes out(4 * uint64_t{n});
    for (uint32_t i = 0; i < n; ++i) std::memcpy(out.data() + 4 * uint64_t{i}, &i, 4);
    return out;
}

// Several frames of 64 KiB at every level: the same bytes as the host road,
// and the library decodes them back on the host.
TEST_F(DeviceRoadsTest, DeviceToDeviceFramesEqualTheHostRoads) {
    const ScopedEnv cap("KVN_FRAME_CAP", "65536");
    struct Case {
        int32_t level;
        uint64_t len;
    };
    for (const Case c : {Case{1, 150000}, Case{2, 150000}, Case{3, 150000}, Case{4, 150000}, Case{5, 70000},
                         Case{6, 70000}}) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        const Bytes input = realFile("/usr/include/stdio.h", c.len);
        const CompressOpts opts = withTrailers(c.level);
        const Bytes expected = compressOk(input, opts);
        const Bytes frames = compressDeviceToDevice(input, opts);
        EXPECT_EQ(frameSizes(frames).size(), (c.len + 65535) / 65536);
        EXPECT_TRUE(frames == expected);
        expectLibraryRestores(handle_, frames, input);
    }
}

// The short forms and the host-side passes read the device source: a stored
// tail frame at an offset, a stored body of one-byte chunks, the automatic
// byte-plane sample, a fixed stride, and the word transform.
TEST_F(DeviceRoadsTest, StoredFormsAndHostPassesReadTheDeviceSource) {
    const ScopedEnv cap("KVN_FRAME_CAP", "65536");
    struct Case {
        const char* name;
        Bytes input;
        CompressOpts opts;
    };
    CompressOpts tiny_chunks = withTrailers(1);
    tiny_chunks.sc_group_size = 1.0f / 262144;
    CompressOpts auto_stride = withTrailers(2);
    auto_stride.byte_plane_stride = -1;
    CompressOpts stride4 = withTrailers(3);
    stride4.byte_plane_stride = 4;
    const Case cases[] = {
        {"stored tail frame", realFile("/usr/include/stdlib.h", 2 * 65536 + 100), withTrailers(1)},
        {"one-byte chunks", randomBytes(1000, 5), tiny_chunks},
        {"automatic stride", counters(30000), auto_stride},
        {"stride 4", counters(20000), stride4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes expected = compressOk(c.input, c.opts);
        const Bytes frames = compressDeviceToDevice(c.input, c.opts);
        EXPECT_TRUE(frames == expected);
        expectLibraryRestores(handle_, frames, c.input);
    }
}

// The word transform on the CPU reads the text from the device source.
TEST_F(DeviceRoadsTest, CpuWordTransformReadsTheDeviceSource) {
    const ScopedEnv cpu("KVN_WRT_CPU", "1");
    const Bytes input = realFile("/usr/include/stdio.h", 70000);
    const CompressOpts opts = withTrailers(6);
    const Bytes frames = compressDeviceToDevice(input, opts);
    ASSERT_GT(frames.size(), kFrameFlagsOffset);
    EXPECT_TRUE(frames[kFrameFlagsOffset] & kFrameWrtSection) << "the transform applies to this text";
    EXPECT_TRUE(frames == compressOk(input, opts));
    expectLibraryRestores(handle_, frames, input);
}

// kvnCompress_vk serves the inputs kvnCompressAsync refuses (empty and up to
// 128 bytes), and a device buffer on either side alone, with the host road's bytes.
TEST_F(DeviceRoadsTest, RegisteredBuffersOnEitherSide) {
    const Bytes longer = realFile("/usr/include/stdio.h", 5000);
    struct Sides {
        const char* name;
        bool source_on_device;
        bool destination_on_device;
    };
    for (const Sides sides : {Sides{"device to device", true, true}, Sides{"device to host", true, false},
                              Sides{"host to device", false, true}}) {
        for (const Bytes& input : {Bytes{}, Bytes{'a'}, randomBytes(128, 9), longer}) {
            SCOPED_TRACE(std::string(sides.name) + ", " + std::to_string(input.size()) + " bytes");
            for (const int32_t level : {1, 3}) {
                const CompressOpts opts = withTrailers(level);
                const Bytes frames =
                    compressRegistered(input, opts, sides.source_on_device, sides.destination_on_device);
                EXPECT_TRUE(frames == compressOk(input, opts));
                expectLibraryRestores(handle_, frames, input);
            }
        }
    }
}

// A destination below the compress bound is refused before anything is
// written to it.
TEST_F(DeviceRoadsTest, DestinationBelowTheBoundIsLeftUnwritten) {
    const Bytes input = realFile("/usr/include/stdio.h", 3000);
    const DeviceBytes src(handle_, input.size());
    src.upload(input);
    const Destination dst(handle_, input.size());
    const CompressOpts opts = withTrailers(1);
    uint64_t size = 77;
    EXPECT_EQ(kvnCompressAsync(handle_, src.id(), input.size(), dst.bytes.id(), dst.cap - 1, &size, &opts, 0),
              KVN_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 77u);
    EXPECT_TRUE(dst.untouched());
}

// What the caller queued on its stream before the call (here the upload of
// the source) is in place when the encode reads the source, and the frames
// are in the destination when the call returns.
TEST_F(DeviceRoadsTest, CallersStreamIsDrainedBeforeTheSourceIsRead) {
    const GpuOpsTable& ops = gpuOps();
    uint64_t stream = 0;
    ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
    const Bytes input = realFile("/usr/include/stdio.h", 20000);
    const DeviceBytes src(handle_, input.size());
    src.upload(Bytes(input.size(), 0));
    ASSERT_EQ(ops.memcpyHtoDAsync(src.id(), input.data(), input.size(), stream), Error::None);
    const Destination dst(handle_, input.size());
    const CompressOpts opts = withTrailers(2);
    uint64_t size = 0;
    ASSERT_EQ(kvnCompressAsync(handle_, src.id(), input.size(), dst.bytes.id(), dst.cap, &size, &opts, stream), 0u);
    const Bytes frames = dst.frames(size);
    EXPECT_TRUE(frames == compressOk(input, opts));
    expectLibraryRestores(handle_, frames, input);
    EXPECT_EQ(ops.streamSynchronize(stream), Error::None);
    EXPECT_EQ(ops.streamDestroy(stream), Error::None);
}

}  // namespace
}  // namespace kvn::test
