// The frames that need no LZ kernel, pinned byte for byte, and the checks a
// call meets before any device work.
#include <cmath>
#include <limits>

#include "core/format/byte_order.h"
#include "core/format/compress_bound.h"
#include "core/integrity/merkle.h"
#include "core/integrity/xxh32.h"
#include "pipeline/encode/device_merkle.h"
#include "vulkan/device/vulkan_context.h"

#include <cstdlib>
#include <cstring>
#include "encode_test_support.h"

namespace kvn::test {
namespace {

const Bytes kEmptyLevelOneHeader = {0x31, 0x4E, 0x56, 0x4B, 0x02, 0x01, 0x01, 0x01, 0x02, 0x00, 0x00,
                                    0x80, 0x3E, 0x00, 0,    0,    0,    0,    0,    0,    0,    0};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

using FrameFormsTest = EncodeTest;

TEST_F(FrameFormsTest, EmptyInputGivesHeaderAndEndMark) {
    EXPECT_EQ(compressOk({}, CompressOpts{}), concat({kEmptyLevelOneHeader, le32(0)}));
    CompressOpts level0{};
    level0.level = 0;
    EXPECT_EQ(compressOk({}, level0), concat({kEmptyLevelOneHeader, le32(0)})) << "level 0 is level 1";
}

TEST_F(FrameFormsTest, EmptyInputWithBothTrailers) {
    CompressOpts opts{};
    opts.content_checksum = 1;
    opts.merkle_root = 1;
    Bytes header = kEmptyLevelOneHeader;
    header[5] = 0x01 | 0x02 | 0x20;
    EXPECT_EQ(compressOk({}, opts), concat({header, le32(0), le32(0x02CC5D05), le32(0x02CC5D05)}))
        << "XXH32 of nothing, and the Merkle root of an empty buffer";
}

TEST_F(FrameFormsTest, EmptyInputWithADictionaryCarriesItsId) {
    CompressOpts opts{};
    opts.dict_id = 1;
    Bytes header = kEmptyLevelOneHeader;
    header[5] = 0x01 | 0x08;
    EXPECT_EQ(compressOk({}, opts), concat({header, le32(1), le32(0)}));
}

TEST_F(FrameFormsTest, UpTo128BytesAreOneStoredBlock) {
    for (uint64_t n : {1u, 127u, 128u}) {
        Bytes input(n);
        for (uint64_t i = 0; i < n; ++i) input[i] = static_cast<uint8_t>(i * 7);
        CompressOpts opts{};
        opts.level = 2;
        opts.content_checksum = 1;
        Bytes header = kEmptyLevelOneHeader;
        header[5] = 0x01 | 0x02;  // no chunk table for a stored frame
        header[7] = 2;
        header[14] = static_cast<uint8_t>(n);
        EXPECT_EQ(compressOk(input, opts),
                  concat({header, le32(uint32_t(n) | 0x80000000u), le32(uint32_t(n)), input, le32(0),
                          le32(xxh32(input.data(), n))}))
            << n << " bytes";
    }
}

TEST_F(FrameFormsTest, CallsRefusedBeforeAnyDeviceWork) {
    struct Case {
        const char* what;
        void (*set)(CompressOpts&);
        KvnStatus status;
    };
    const Case cases[] = {
        {"level 257 is not level 1", [](CompressOpts& o) { o.level = 257; }, 5},
        {"level 7", [](CompressOpts& o) { o.level = 7; }, 5},
        {"level -1", [](CompressOpts& o) { o.level = -1; }, 5},
        {"unknown dictionary", [](CompressOpts& o) { o.dict_id = 999; }, 5},
        {"fraction NaN", [](CompressOpts& o) { o.sc_group_size = std::numeric_limits<float>::quiet_NaN(); }, 5},
        {"fraction below one byte", [](CompressOpts& o) { o.sc_group_size = 0x1p-19f; }, 5},
        {"fraction above 65536", [](CompressOpts& o) { o.sc_group_size = 65537.0f; }, 3},
    };
    const Bytes input(1000, 'x');
    for (const Case& c : cases) {
        CompressOpts opts{};
        c.set(opts);
        Bytes out;
        EXPECT_EQ(compress(input, opts, &out), c.status) << c.what;
    }
}

TEST_F(FrameFormsTest, DestinationBelowTheBoundIsTooSmall) {
    const Bytes input(1000, 'x');
    Bytes out(compressBound(input.size()) - 1);
    uint64_t size = 0;
    const CompressOpts opts{};
    EXPECT_EQ(kvnCompressHost(handle_, input.data(), input.size(), out.data(), out.size(), &size, &opts), 3u);
}

TEST_F(FrameFormsTest, InputsOf2To31BytesAreRefusedUnread) {
    // The lengths lie: the call must refuse them before reading a byte, since
    // a result that large cannot be reported.
    uint8_t src[16] = {};
    uint8_t dst[16] = {};
    uint64_t size = 0;
    const CompressOpts opts{};
    EXPECT_EQ(kvnCompressHost(handle_, src, uint64_t{1} << 31, dst, UINT64_MAX, &size, &opts), 5u);
    EXPECT_EQ(kvnCompressHost(handle_, src, (uint64_t{1} << 32) + 1, dst, UINT64_MAX, &size, &opts), 5u);
}

}  // namespace
}  // namespace kvn::test

namespace kvn::test {
namespace {

uint32_t lastWord(const Bytes& frame) {
    uint32_t v;
    std::memcpy(&v, frame.data() + frame.size() - 4, 4);
    return v;
}

// The root of a frame the body encode did not hash (a stored one) comes from
// the device pass, or from the CPU with KVN_NO_DEVICE_MERKLE; both equal the
// CPU definition.
TEST_F(FrameFormsTest, MerkleRootOfAStoredFrameOnEveryRoad) {
    Bytes input(127);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * i + 3);
    CompressOpts opts{};
    opts.merkle_root = 1;
    opts.sc_group_size = 0x1p-13f;  // 32-byte chunks: four leaves
    const uint32_t want = chunkMerkleRoot(input.data(), input.size(), 32).root;
    EXPECT_EQ(lastWord(compressOk(input, opts)), want) << "device pass";
    setenv("KVN_NO_DEVICE_MERKLE", "", 1);
    EXPECT_EQ(lastWord(compressOk(input, opts)), want) << "CPU";
    unsetenv("KVN_NO_DEVICE_MERKLE");
}

}  // namespace
}  // namespace kvn::test

namespace kvn::test {
namespace {

// Chunks shorter than 8 bytes cannot give the frame's first sub-chunk its 8
// raw leading bytes: such a frame is one stored block, without chunk table.
TEST_F(FrameFormsTest, ChunksBelowEightBytesGiveAStoredFrame) {
    Bytes input(200);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i / 3);
    CompressOpts opts{};
    opts.sc_group_size = 0x1p-16f;  // 4-byte chunks
    const Bytes frame = compressOk(input, opts);
    Bytes header = kEmptyLevelOneHeader;
    std::memcpy(header.data() + 9, &opts.sc_group_size, 4);
    header[14] = 200;
    EXPECT_EQ(frame, concat({header, le32(200 | 0x80000000u), le32(200), input, le32(0)}));
}

// Small chunks over bytes that do not shrink cost more than the compress
// bound allows for; the frame is then stored, so a destination of the bound
// always holds it.
TEST_F(FrameFormsTest, CodedFrameAboveTheBoundIsStoredInstead) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = randomBytes(200000, 5);
    for (int level : {1, 3}) {
        SCOPED_TRACE("level " + std::to_string(level));
        CompressOpts opts = withTrailers(level);
        opts.sc_group_size = 0x1p-9f;  // 512-byte chunks
        const Bytes frame = compressOk(input, opts);
        ASSERT_GT(frame.size(), 30u);
        EXPECT_EQ(loadLe32(frame.data() + frame.size() - 8 - 4 - input.size() - 8), input.size() | 0x80000000u);
        expectLibraryRestores(handle_, frame, input);
    }
}

}  // namespace
}  // namespace kvn::test

namespace kvn::test {
namespace {

// An input larger than one frame the device can take is cut into frames
// that each fit its bindings: a quarter of the binding range in whole
// chunks, whose largest binding (three bytes of LZ slots per input byte)
// stays inside it. The device is made to look like one whose bindings reach
// 1 MiB.
TEST_F(FrameFormsTest, InputsAboveOneFrameAreCutIntoFramesTheBindingsTake) {
    VulkanContext& ctx = vulkanContext();
    const uint64_t real_range = ctx.max_storage_buffer_range;
    ctx.max_storage_buffer_range = uint64_t{1} << 20;
    const CompressOpts opts{};  // 64 KiB chunks
    for (const uint64_t len : {uint64_t{4} * 65536, uint64_t{4} * 65536 + 1, uint64_t{2} << 20}) {
        const Bytes input = realFile("/usr/include/stdio.h", len);
        Bytes out;
        ASSERT_EQ(compress(input, opts, &out), 0u) << len;
        const std::vector<uint64_t> sizes = frameSizes(out);
        EXPECT_EQ(sizes.size(), (len + 262143) / 262144) << len;
        for (const uint64_t size : sizes) EXPECT_LE(size, 262144u) << len;
        expectLibraryRestores(handle_, out, input);
    }
    ctx.max_storage_buffer_range = real_range;
}

}  // namespace
}  // namespace kvn::test

namespace kvn::test {
namespace {

// A frame too large for the device's bindings fails visibly; the buffers it
// grew must not fail the next, smaller frame on the same handle. The device
// is made to look like one whose bindings reach 1 MiB.
TEST_F(FrameFormsTest, AFrameTooLargeForTheBindingsLeavesTheHandleUsable) {
    const CompressOpts opts{};
    const Bytes large = realFile("/usr/include/stdio.h", uint64_t{3} << 19);
    const Bytes small = realFile("/usr/include/stdlib.h", 200000);
    const Bytes large_frame = compressOk(large, opts);
    const Bytes small_frame = compressOk(small, opts);
    VulkanContext& ctx = vulkanContext();
    const uint64_t real_range = ctx.max_storage_buffer_range;
    ctx.max_storage_buffer_range = uint64_t{1} << 20;
    const DecompressOpts dopts{};
    Bytes back(large.size());
    uint64_t size = 0;
    const KvnStatus refused =
        kvnDecompressHost(handle_, large_frame.data(), large_frame.size(), back.data(), back.size(), &size, &dopts);
    EXPECT_TRUE(refused != 0 || (size == large.size() && back == large)) << refused;
    back.assign(small.size(), 0);
    EXPECT_EQ(kvnDecompressHost(handle_, small_frame.data(), small_frame.size(), back.data(), back.size(), &size,
                                &dopts),
              0u);
    EXPECT_EQ(size, small.size());
    EXPECT_EQ(back, small);
    // The encoder likewise, after its buffers served the larger input.
    Bytes out;
    EXPECT_EQ(compress(small, opts, &out), 0u);
    ctx.max_storage_buffer_range = real_range;
}

}  // namespace
}  // namespace kvn::test

namespace kvn::test {
namespace {

// One-byte chunks: the device Merkle pass over 70,000 bytes launches one
// workgroup per leaf, more than the 65,535 a dispatch dimension allows; the
// root must still be the CPU definition's. (A frame the encoder writes has at
// most 16,384 chunks; the pass serves any count.)
TEST_F(FrameFormsTest, MerkleRootOverMoreLeavesThanOneDispatchDimensionTakes) {
    Bytes input(70000);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 7 + i / 251);
    EncoderState host_source{};
    const std::optional<uint32_t> root = deviceMerkleRoot(input.data(), input.size(), 1, host_source);
    releaseEncoderBuffers(host_source);
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(*root, chunkMerkleRoot(input.data(), input.size(), 1).root);
}

}  // namespace
}  // namespace kvn::test
