#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string_view>
#include <string>
#include <vector>

#include "test_support.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::launchAddWords;
using test::readyOps;
using test::realBytes;

// What each queue submission carried.
struct Submission {
    uint32_t waits;
    uint32_t command_buffers;
    uint32_t signals;
    bool fenced;
    bool operator==(const Submission&) const = default;
};

struct SubmitCalls {
    static inline PFN_vkQueueSubmit real = nullptr;
    static inline std::vector<Submission> log;
    static VkResult submit(VkQueue queue, uint32_t n, const VkSubmitInfo* infos, VkFence fence) {
        for (uint32_t i = 0; i < n; ++i)
            log.push_back({infos[i].waitSemaphoreCount, infos[i].commandBufferCount,
                           infos[i].signalSemaphoreCount, fence != VK_NULL_HANDLE});
        return real(queue, n, infos, fence);
    }
    static void install() {
        if (!real) real = vulkanContext().vk.vkQueueSubmit;
        vulkanContext().vk.vkQueueSubmit = submit;
        log.clear();
    }
};

// Waits for real, then reports a timeout: the seam of a wedged device.
struct WedgedFences {
    static inline PFN_vkWaitForFences real = nullptr;
    static VkResult wait(VkDevice d, uint32_t n, const VkFence* f, VkBool32 all, uint64_t timeout) {
        const VkResult r = real(d, n, f, all, timeout);
        return r == VK_SUCCESS ? VK_TIMEOUT : r;
    }
    static void install() {
        real = vulkanContext().vk.vkWaitForFences;
        vulkanContext().vk.vkWaitForFences = wait;
    }
    static void remove() { vulkanContext().vk.vkWaitForFences = real; }
};

std::string wedgedLine(const char* label) {
    return std::string("error: vkWaitForFences timed out after 60 s (") + label +
           ") - the device is wedged (hung shader, driver fault, or TDR disabled). The codec cannot recover this "
           "context; restart the process. See CLAUDE.md's diagnosis ladder before blaming the driver.\n";
}

TEST(Streams, HandlesFollowTheProbeStreamAndAreReused) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t a = 0, b = 0, c = 0;
        ASSERT_EQ(ops.streamCreate(&a, 0), Error::None);
        ASSERT_EQ(ops.streamCreate(&b, 7), Error::None);
        EXPECT_EQ(a, 2u);
        EXPECT_EQ(b, 3u);
        EXPECT_EQ(ops.streamDestroy(a), Error::None);
        EXPECT_EQ(streamRecord(a), nullptr);
        ASSERT_EQ(ops.streamCreate(&c, 0), Error::None);
        EXPECT_EQ(c, 2u);
        EXPECT_TRUE(streamRecord(c)->hasAuxSet());

        EXPECT_EQ(ops.streamDestroy(0), Error::None);
        EXPECT_EQ(ops.streamDestroy(99), Error::None);
        EXPECT_EQ(ops.streamSynchronize(99), Error::None);
        EXPECT_EQ(ops.streamFlushTransfer(99), Error::None);
        EXPECT_EQ(ops.streamComputeBarrier(99), Error::None);
        EXPECT_EQ(ops.streamSwitchToAux(99), Error::None);

        // Nothing recorded: nothing submitted.
        SubmitCalls::install();
        EXPECT_EQ(ops.streamSynchronize(c), Error::None);
        EXPECT_TRUE(SubmitCalls::log.empty());

        // A destroyed stream's work is not run, and its objects are gone (the
        // validation pass would report a leak or a use after destruction).
        uint64_t buffer = 0;
        ASSERT_EQ(ops.memAlloc(&buffer, 64), Error::None);
        std::vector<uint8_t> host(64, 0xEE);
        ASSERT_EQ(ops.memcpyDtoHAsync(host.data(), buffer, 64, b), Error::None);
        EXPECT_EQ(ops.streamDestroy(b), Error::None);
        EXPECT_EQ(host, std::vector<uint8_t>(64, 0xEE));
        // An asynchronous copy on a destroyed stream runs synchronously.
        ASSERT_EQ(ops.memsetD8(buffer, 0x44, 64), Error::None);
        ASSERT_EQ(ops.memcpyDtoHAsync(host.data(), buffer, 64, b), Error::None);
        EXPECT_EQ(host, std::vector<uint8_t>(64, 0x44));
    });
}

TEST(Streams, StreamCountStopsAtTheReservedRoom) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        StreamRecord* const first_record = &vulkanContext().streams[0];
        std::vector<uint64_t> streams;
        uint64_t stream = 0;
        while (ops.streamCreate(&stream, 0) == Error::None) streams.push_back(stream);
        EXPECT_EQ(streams.size(), kReservedStreams - 1);  // the probe stream holds the first
        EXPECT_EQ(&vulkanContext().streams[0], first_record);
        EXPECT_EQ(ops.streamDestroy(streams[100]), Error::None);
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        EXPECT_EQ(stream, streams[100]);
        for (uint64_t s : streams) EXPECT_EQ(ops.streamDestroy(s), Error::None);
    });
}

TEST(Streams, UploadOnlyStreamChainsTransferToCompute) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t stream = 0, buffer = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        ASSERT_EQ(ops.memAlloc(&buffer, 4096), Error::None);
        const std::vector<uint8_t> in = realBytes(4096);
        SubmitCalls::install();
        ASSERT_EQ(ops.memcpyHtoDAsync(buffer, in.data(), 4096, stream), Error::None);
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        const std::vector<Submission> expected = {{0, 1, 1, false}, {1, 1, 0, true}};
        EXPECT_EQ(SubmitCalls::log, expected);

        // Flushed early: the end submits only the compute part.
        SubmitCalls::log.clear();
        ASSERT_EQ(ops.memcpyHtoDAsync(buffer, in.data() + 1, 4095, stream), Error::None);
        ASSERT_EQ(ops.streamFlushTransfer(stream), Error::None);
        EXPECT_EQ(SubmitCalls::log.size(), 1u);
        ASSERT_EQ(ops.streamFlushTransfer(stream), Error::None);
        EXPECT_EQ(SubmitCalls::log.size(), 1u);
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        EXPECT_EQ(SubmitCalls::log, expected);
        std::vector<uint8_t> out(4095);
        ASSERT_EQ(ops.memcpyDtoH(out.data(), buffer, 4095), Error::None);
        EXPECT_EQ(out, std::vector<uint8_t>(in.begin() + 1, in.end()));
    });
}

TEST(Streams, AuxRoadWithAndWithoutDeviceToHostWork) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        ASSERT_TRUE(ensureEncodePipelines());
        const KernelHandle add = encodeKernels().byte_plane_deinterleave_fn;
        uint64_t stream = 0, a = 0, b = 0, c = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        for (uint64_t* h : {&a, &b, &c}) ASSERT_EQ(ops.memAlloc(h, 256 * 4), Error::None);
        std::vector<uint32_t> words(256);
        for (uint32_t i = 0; i < 256; ++i) words[i] = i * 3;
        StreamRecord& s = *streamRecord(stream);

        const Submission transfer{0, 1, 1, false};
        const Submission compute_then_aux{1, 1, 2, true};
        const Submission aux{1, 1, 0, true};
        struct Case {
            const char* name;
            bool launch_in_aux;
            bool xfer_d2h;
            Submission d2h;
        } cases[] = {
            {"launch and transfer-queue readback", true, true, {1, 1, 0, true}},
            {"launch only: an empty batch consumes the semaphore", true, false, {1, 0, 0, true}},
            {"transfer-queue readback only", false, true, {1, 1, 0, true}},
        };
        for (const Case& k : cases) {
            SCOPED_TRACE(k.name);
            std::vector<uint32_t> out(256, 0xEEEEEEEE);
            ASSERT_EQ(ops.memcpyHtoDAsync(a, words.data(), 256 * 4, stream), Error::None);
            ASSERT_EQ(launchAddWords(add, a, b, 256, 1, stream), Error::None);  // compute part
            SubmitCalls::install();
            ASSERT_EQ(ops.streamSwitchToAux(stream), Error::None);
            EXPECT_TRUE(s.aux_mode);
            if (k.launch_in_aux) {
                ASSERT_EQ(ops.streamComputeBarrier(stream), Error::None);
                ASSERT_EQ(launchAddWords(add, b, c, 256, 10, stream), Error::None);
            }
            // The transfer-queue readback follows the compute part (not the auxiliary one).
            if (k.xfer_d2h) ASSERT_EQ(ops.memcpyDtoHXferAsync(out.data(), b, 256 * 4, stream), Error::None);
            ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
            const std::vector<Submission> expected = {transfer, compute_then_aux, aux, k.d2h};
            EXPECT_EQ(SubmitCalls::log, expected);
            EXPECT_FALSE(s.aux_mode);
            if (!k.xfer_d2h) ASSERT_EQ(ops.memcpyDtoH(out.data(), b, 256 * 4), Error::None);
            for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(out[i], i * 3 + 1) << i;
            if (k.launch_in_aux) {
                ASSERT_EQ(ops.memcpyDtoH(out.data(), c, 256 * 4), Error::None);
                for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(out[i], i * 3 + 11) << i;
                ASSERT_EQ(ops.memsetD8(c, 0, 256 * 4), Error::None);
            }
            ASSERT_EQ(ops.memsetD8(b, 0, 256 * 4), Error::None);
        }

        // Without the auxiliary set the switch changes nothing: one compute submission.
        {
            uint64_t plain = 0;
            ASSERT_EQ(ops.streamCreate(&plain, 0), Error::None);
            StreamRecord& p = *streamRecord(plain);
            const VulkanContext& ctx = vulkanContext();
            ctx.vk.vkFreeCommandBuffers(ctx.device, p.compute_pool, 1, &p.aux_cb);
            p.aux_cb = VK_NULL_HANDLE;
            std::vector<uint32_t> out(256, 0);
            ASSERT_EQ(launchAddWords(add, a, b, 256, 5, plain), Error::None);
            ASSERT_EQ(ops.streamSwitchToAux(plain), Error::None);
            EXPECT_FALSE(p.aux_mode);
            ASSERT_EQ(ops.memcpyDtoHXferAsync(out.data(), b, 256 * 4, plain), Error::None);
            SubmitCalls::log.clear();
            ASSERT_EQ(ops.streamSynchronize(plain), Error::None);
            EXPECT_EQ(SubmitCalls::log, std::vector<Submission>({{0, 1, 0, true}}));
            EXPECT_EQ(out[7], 7 * 3 + 5u);
        }
    });
}

// A wait that gave up leaves its work possibly running: the wedge is for
// good, so nothing is recorded, submitted or released afterwards. Each case
// wedges a process of its own.
TEST(Streams, FenceTimeoutReportsAWedgedDevice) {
    const char* const labels[] = {"one-shot submit", "stream end", "kernel launch (sync mode)"};
    for (const char* label : labels) {
        SCOPED_TRACE(label);
        inChildProcess([label] {
            const GpuOpsTable& ops = readyOps();
            ASSERT_TRUE(ensureEncodePipelines());
            uint64_t stream = 0, buffer = 0, other = 0;
            ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
            ASSERT_EQ(ops.memAlloc(&buffer, 64 * 4), Error::None);
            ASSERT_EQ(ops.memAlloc(&other, 64 * 4), Error::None);
            std::vector<uint8_t> host(64);
            WedgedFences::install();
            testing::internal::CaptureStderr();
            Error result = Error::None;
            if (std::string_view(label) == "one-shot submit") {
                result = ops.memsetD8(buffer, 1, 64);
            } else if (std::string_view(label) == "stream end") {
                EXPECT_EQ(ops.memsetD8Async(buffer, 1, 64, stream), Error::None);
                result = ops.streamSynchronize(stream);
                EXPECT_TRUE(streamRecord(stream)->compute_begun) << "the submitted recording is kept as it is";
            } else {
                result = launchAddWords(encodeKernels().byte_plane_deinterleave_fn, buffer, other, 64, 1, 0);
            }
            EXPECT_EQ(result, Error::DeviceLost);
            EXPECT_EQ(testing::internal::GetCapturedStderr(), wedgedLine(label));
            WedgedFences::remove();

            EXPECT_FALSE(ensureVulkanContext()) << "the device is unusable for the rest of the process";
            EXPECT_EQ(ops.memsetD8(buffer, 1, 64), Error::DeviceLost);
            EXPECT_EQ(ops.memcpyDtoHAsync(host.data(), buffer, 64, stream), Error::DeviceLost);
            EXPECT_EQ(ops.streamSynchronize(stream), Error::DeviceLost);
            EXPECT_EQ(ops.ctxSynchronize(), Error::DeviceLost);
            uint64_t more = 0;
            EXPECT_EQ(ops.memAlloc(&more, 64), Error::DeviceLost);
            // Releases free nothing the running work may still use.
            EXPECT_EQ(ops.memFree(buffer), Error::None);
            EXPECT_EQ(ops.streamDestroy(stream), Error::None);
            EXPECT_NE(streamRecord(stream), nullptr);
        });
    }
}

TEST(Streams, ContextSynchroniseEndsOpenStreamsAndTracesWhenAsked) {
    inChildProcess([] {
        setenv("KVN_VK_CB_TRACE", "1", 1);
        const GpuOpsTable& ops = readyOps();
        uint64_t stream = 0, buffer = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        ASSERT_EQ(ops.memAlloc(&buffer, 64), Error::None);
        ASSERT_EQ(ops.memsetD8(buffer, 0x31, 64), Error::None);
        std::vector<uint8_t> host(64, 0);
        testing::internal::CaptureStderr();
        ASSERT_EQ(ops.memcpyDtoHAsync(host.data(), buffer, 64, stream), Error::None);
        EXPECT_EQ(ops.ctxSynchronize(), Error::None);
        const std::string trace = testing::internal::GetCapturedStderr();
        EXPECT_EQ(host, std::vector<uint8_t>(64, 0x31));
        EXPECT_NE(trace.find("[cb-trace] reset streamBegin cb=0x"), std::string::npos) << trace;
        EXPECT_NE(trace.find("[cb-trace] submit compute (single) cb=0x"), std::string::npos) << trace;
        EXPECT_NE(trace.find("[cb-trace] waitFences(stream end) rc=0\n"), std::string::npos) << trace;
        EXPECT_FALSE(streamRecord(stream)->compute_begun);
    });
}

}  // namespace
}  // namespace kvn
