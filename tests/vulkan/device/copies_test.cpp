#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "test_support.h"
#include "vulkan/device/host_import.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::readyOps;
using test::realBytes;

constexpr uint64_t kRoundTripSizes[] = {1, 3, 5, 7, 4097};

// Records the size of every region of every copy command.
struct CopyCalls {
    static inline PFN_vkCmdCopyBuffer real = nullptr;
    static inline std::vector<uint64_t> sizes;
    static void copy(VkCommandBuffer cb, VkBuffer src, VkBuffer dst, uint32_t n, const VkBufferCopy* regions) {
        for (uint32_t i = 0; i < n; ++i) sizes.push_back(regions[i].size);
        real(cb, src, dst, n, regions);
    }
    static void install() {
        real = vulkanContext().vk.vkCmdCopyBuffer;
        vulkanContext().vk.vkCmdCopyBuffer = copy;
    }
};

// Host memory from memAllocHost, which the import road may use.
struct HostPages {
    void* pointer = nullptr;
    explicit HostPages(uint64_t bytes) { EXPECT_EQ(gpuOps().memAllocHost(&pointer, bytes), Error::None); }
    ~HostPages() { EXPECT_EQ(gpuOps().memFreeHost(pointer), Error::None); }
    uint8_t* bytes() const { return static_cast<uint8_t*>(pointer); }
};

TEST(Copies, RoundTripsOnTheSynchronousStagingAndImportRoads) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        StreamRecord& s = *streamRecord(stream);
        for (uint64_t n : kRoundTripSizes) {
            SCOPED_TRACE(n);
            const std::vector<uint8_t> in = realBytes(n, n * 101);
            uint64_t buffer = 0;
            ASSERT_EQ(ops.memAlloc(&buffer, n), Error::None);

            std::vector<uint8_t> out(n, 0xEE);
            ASSERT_EQ(ops.memcpyHtoD(buffer, in.data(), n), Error::None);
            ASSERT_EQ(ops.memcpyDtoH(out.data(), buffer, n), Error::None);
            EXPECT_EQ(out, in) << "synchronous";

            // Ordinary host memory goes through the stream's staging buffer.
            const std::vector<uint8_t> in2 = realBytes(n, n * 7 + 3);
            std::vector<uint8_t> out2(n, 0xEE);
            ASSERT_EQ(ops.memsetD8(buffer, 0, n), Error::None);
            ASSERT_EQ(ops.memcpyHtoDAsync(buffer, in2.data(), n, stream), Error::None);
            ASSERT_EQ(ops.memcpyDtoHAsync(out2.data(), buffer, n, stream), Error::None);
            EXPECT_TRUE(s.deferred_releases.empty());
            EXPECT_EQ(s.pending_copies.size(), 1u);
            ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
            EXPECT_EQ(out2, in2) << "staging";

            // memAllocHost memory is imported: a parked source import, and the
            // destination imported by the copy itself.
            HostPages src(n), dst(n);
            const std::vector<uint8_t> in3 = realBytes(n, n * 13 + 5);
            std::memcpy(src.bytes(), in3.data(), n);
            std::memset(dst.bytes(), 0xEE, n);
            const std::optional<HostImport> parked = importHostRange(src.bytes(), n, ImportDirection::HostToDevice);
            ASSERT_TRUE(parked);
            s.source_import = {parked->buffer, parked->memory, parked->offset, parked->slot, src.bytes(), n, true};
            ASSERT_EQ(ops.memsetD8(buffer, 0, n), Error::None);
            ASSERT_EQ(ops.memcpyHtoDAsync(buffer, src.bytes(), n, stream), Error::None);
            ASSERT_EQ(ops.memcpyDtoHAsync(dst.bytes(), buffer, n, stream), Error::None);
            EXPECT_FALSE(s.source_import.valid);
            EXPECT_EQ(s.deferred_releases.size(), 2u);
            EXPECT_TRUE(s.pending_copies.empty());
            ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
            EXPECT_EQ(std::memcmp(dst.bytes(), in3.data(), n), 0) << "import";
            EXPECT_TRUE(s.deferred_releases.empty());
            ASSERT_EQ(ops.memFree(buffer), Error::None);
        }
    });
}

TEST(Copies, DeviceToHostCopiesSplitTheirTrailingBytes) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t buffer = 0;
        ASSERT_EQ(ops.memAlloc(&buffer, 16), Error::None);
        CopyCalls::install();
        uint8_t bytes[16] = {};
        const struct {
            uint64_t n;
            std::vector<uint64_t> regions;
        } cases[] = {{7, {4, 3}}, {3, {3}}, {8, {8}}, {13, {12, 1}}};
        for (const auto& c : cases) {
            CopyCalls::sizes.clear();
            ASSERT_EQ(ops.memcpyDtoH(bytes, buffer, c.n), Error::None);
            EXPECT_EQ(CopyCalls::sizes, c.regions) << c.n;
        }
        CopyCalls::sizes.clear();
        ASSERT_EQ(ops.memcpyHtoD(buffer, bytes, 7), Error::None);
        EXPECT_EQ(CopyCalls::sizes, std::vector<uint64_t>{7});
    });
}

TEST(Copies, HostBytesStayUntouchedUntilTheStreamIsSynchronised) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t stream = 0, buffer = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        ASSERT_EQ(ops.memAlloc(&buffer, 4096), Error::None);
        const std::vector<uint8_t> in = realBytes(4096);
        ASSERT_EQ(ops.memcpyHtoD(buffer, in.data(), 4096), Error::None);
        std::vector<uint8_t> a(4096, 0xEE), b(4096, 0xEE);
        ASSERT_EQ(ops.memcpyDtoHAsync(a.data(), buffer, 4096, stream), Error::None);
        // Not in aux mode: the transfer-queue variant records where it is submitted.
        ASSERT_EQ(ops.memcpyDtoHXferAsync(b.data(), buffer, 4096, stream), Error::None);
        EXPECT_EQ(a, std::vector<uint8_t>(4096, 0xEE));
        EXPECT_EQ(b, std::vector<uint8_t>(4096, 0xEE));
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        EXPECT_EQ(a, in);
        EXPECT_EQ(b, in);
    });
}

TEST(Copies, StagingBufferReplacedMidStreamKeepsEarlierCopies) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        StreamRecord& s = *streamRecord(stream);
        constexpr uint64_t kPiece = 600 << 10;  // two do not fit the first 1 MiB
        uint64_t buffers[3] = {};
        std::vector<uint8_t> in[3], out[3];
        for (int i = 0; i < 3; ++i) {
            in[i] = realBytes(kPiece, i * 4099);
            out[i].assign(kPiece, 0xEE);
            ASSERT_EQ(ops.memAlloc(&buffers[i], kPiece), Error::None);
            // Uploads and readbacks alternate, all staged in the same buffer chain.
            ASSERT_EQ(ops.memcpyHtoDAsync(buffers[i], in[i].data(), kPiece, stream), Error::None);
        }
        for (int i = 0; i < 3; ++i) ASSERT_EQ(ops.memcpyDtoHAsync(out[i].data(), buffers[i], kPiece, stream), Error::None);
        EXPECT_GE(s.retired_staging.size(), 2u);
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], in[i]) << i;
        EXPECT_TRUE(s.retired_staging.empty());
        EXPECT_EQ(s.staging.used, 0u);
    });
}

TEST(Copies, OverlongCopiesAreRefusedAndZeroByteCopiesDoNothing) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t stream = 0, a = 0, b = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        ASSERT_EQ(ops.memAlloc(&a, 64), Error::None);
        ASSERT_EQ(ops.memAlloc(&b, 32), Error::None);
        const std::vector<uint8_t> pattern = realBytes(64);
        ASSERT_EQ(ops.memcpyHtoD(a, pattern.data(), 64), Error::None);
        ASSERT_EQ(ops.memsetD8(b, 0x77, 32), Error::None);
        std::vector<uint8_t> host(128, 0xEE);
        const uint64_t huge = ~uint64_t{0} - 8;
        const CopyRegion past_end{60, 0, 8};
        const CopyRegion wrapping{8, huge, 16};

        const struct {
            const char* name;
            std::function<Error(StreamHandle)> copy;
        } refused[] = {
            {"HtoD", [&](StreamHandle st) { return ops.memcpyHtoDAsync(b, host.data(), 33, st); }},
            {"DtoH", [&](StreamHandle st) { return ops.memcpyDtoHAsync(host.data(), b, 33, st); }},
            {"DtoHXfer", [&](StreamHandle st) { return ops.memcpyDtoHXferAsync(host.data(), b, 33, st); }},
            {"DtoHSrcOffset", [&](StreamHandle) { return ops.memcpyDtoHSrcOffset(host.data(), a, 8, 57); }},
            {"DtoHSrcOffset wrap", [&](StreamHandle) { return ops.memcpyDtoHSrcOffset(host.data(), a, 16, huge); }},
            {"gather past end", [&](StreamHandle) { return ops.memcpyDtoHGather(host.data(), a, &past_end, 1); }},
            {"gather wrap", [&](StreamHandle) { return ops.memcpyDtoHGather(host.data(), a, &wrapping, 1); }},
            {"DtoD into smaller", [&](StreamHandle st) { return ops.memcpyDtoDAsync(b, a, 64, st); }},
            {"DtoD src offset", [&](StreamHandle st) { return ops.memcpyDtoDSrcOffsetAsync(b, a, 40, 25, st); }},
            {"DtoD src offset wrap", [&](StreamHandle st) { return ops.memcpyDtoDSrcOffsetAsync(b, a, huge, 16, st); }},
            {"DtoD transfer", [&](StreamHandle st) { return ops.memcpyDtoDSrcOffsetTransferAsync(b, a, 0, 33, st); }},
            {"DtoD dst offset", [&](StreamHandle st) { return ops.memcpyDtoDDstOffsetAsync(b, a, 16, 17, st); }},
            {"fill", [&](StreamHandle st) { return ops.memsetD8Async(b, 0, 33, st); }},
        };
        for (StreamHandle st : {StreamHandle{0}, stream}) {
            for (const auto& c : refused) EXPECT_EQ(c.copy(st), Error::BadRequest) << c.name << " stream " << st;
            // Zero bytes: success, nothing recorded or copied.
            EXPECT_EQ(ops.memcpyHtoDAsync(b, host.data(), 0, st), Error::None);
            EXPECT_EQ(ops.memcpyDtoHAsync(host.data(), b, 0, st), Error::None);
            EXPECT_EQ(ops.memcpyDtoDSrcOffsetAsync(b, a, 64, 0, st), Error::None);
            EXPECT_EQ(ops.memcpyDtoDDstOffsetAsync(b, a, 32, 0, st), Error::None);
        }
        EXPECT_EQ(ops.memcpyHtoD(b, host.data(), 0), Error::None);
        EXPECT_EQ(ops.memcpyDtoH(host.data(), b, 0), Error::None);
        EXPECT_FALSE(streamRecord(stream)->compute_begun);
        EXPECT_FALSE(streamRecord(stream)->transfer_begun);
        EXPECT_EQ(ops.streamSynchronize(stream), Error::None);
        EXPECT_EQ(host, std::vector<uint8_t>(128, 0xEE));
        // Nothing reached the device either.
        std::vector<uint8_t> check(64);
        ASSERT_EQ(ops.memcpyDtoH(check.data(), b, 32), Error::None);
        EXPECT_EQ(std::vector<uint8_t>(check.begin(), check.begin() + 32), std::vector<uint8_t>(32, 0x77));
        ASSERT_EQ(ops.memcpyDtoH(check.data(), a, 64), Error::None);
        EXPECT_EQ(check, pattern);
    });
}

TEST(Copies, GatherScattersRegionsOnBothRoads) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        constexpr uint64_t kSource = 5 << 20;
        uint64_t source = 0;
        ASSERT_EQ(ops.memAlloc(&source, kSource), Error::None);
        const std::vector<uint8_t> in = realBytes(kSource);
        ASSERT_EQ(ops.memcpyHtoD(source, in.data(), kSource), Error::None);

        // A region ending at 0x400000 sends the gather through an import of the destination.
        for (uint64_t span : {uint64_t{0x3FFFFF}, uint64_t{0x400000}}) {
            SCOPED_TRACE(span);
            HostPages dst(span);
            std::memset(dst.bytes(), 0xEE, span);
            const CopyRegion regions[] = {{100, 0, 5}, {kSource - 7, 8, 7}, {0, 20, 0}, {4096, span - 4000, 4000}};
            CopyCalls::install();
            CopyCalls::sizes.clear();
            ASSERT_EQ(ops.memcpyDtoHGather(dst.bytes(), source, regions, 4), Error::None);
            vulkanContext().vk.vkCmdCopyBuffer = CopyCalls::real;
            // One command of three regions, or one readback per region (the 5 and 7 bytes split).
            EXPECT_EQ(CopyCalls::sizes.size(), span == 0x400000 ? 3u : 5u);
            for (const CopyRegion& r : regions)
                EXPECT_EQ(std::memcmp(dst.bytes() + r.dstOffset, in.data() + r.srcOffset, r.size), 0) << r.srcOffset;
            EXPECT_EQ(dst.bytes()[5], 0xEE);
            EXPECT_EQ(dst.bytes()[span - 4001], 0xEE);
        }
        EXPECT_EQ(ops.memcpyDtoHGather(nullptr, source, nullptr, 0), Error::None);
    });
}

TEST(Copies, DeviceToDeviceCopiesHonourTheirOffsets) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t stream = 0, src = 0, dst = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        ASSERT_EQ(ops.memAlloc(&src, 256), Error::None);
        ASSERT_EQ(ops.memAlloc(&dst, 256), Error::None);
        const std::vector<uint8_t> in = realBytes(256);
        ASSERT_EQ(ops.memcpyHtoD(src, in.data(), 256), Error::None);
        for (StreamHandle st : {StreamHandle{0}, stream}) {
            SCOPED_TRACE(st);
            std::vector<uint8_t> expected(256, 0);
            ASSERT_EQ(ops.memsetD8(dst, 0, 256), Error::None);
            ASSERT_EQ(ops.memcpyDtoDSrcOffsetAsync(dst, src, 100, 20, st), Error::None);
            ASSERT_EQ(ops.memcpyDtoDDstOffsetAsync(dst, src, 200, 30, st), Error::None);
            ASSERT_EQ(ops.memcpyDtoDSrcOffsetTransferAsync(dst, src, 40, 8, st), Error::None);
            ASSERT_EQ(ops.streamSynchronize(st), Error::None);
            // On a stream the transfer part runs before the compute part; without one, in call order.
            if (st != 0) std::memcpy(&expected[0], &in[40], 8);
            std::memcpy(&expected[0], &in[100], 20);
            std::memcpy(&expected[200], &in[0], 30);
            if (st == 0) std::memcpy(&expected[0], &in[40], 8);
            std::vector<uint8_t> out(256);
            ASSERT_EQ(ops.memcpyDtoH(out.data(), dst, 256), Error::None);
            EXPECT_EQ(out, expected);
        }
        std::vector<uint8_t> whole(256);
        ASSERT_EQ(ops.memcpyDtoDAsync(dst, src, 256, stream), Error::None);
        ASSERT_EQ(ops.memcpyDtoHAsync(whole.data(), dst, 256, stream), Error::None);
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        EXPECT_EQ(whole, in);
    });
}

}  // namespace
}  // namespace kvn
