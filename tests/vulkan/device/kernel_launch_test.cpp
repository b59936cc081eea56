#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "core/platform/platform.h"
#include "test_support.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/kernel_launch.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::launchAddWords;
using test::readyOps;

// The add_words kernel, after bring-up and the encode build.
KernelHandle addKernel() {
    EXPECT_TRUE(ensureEncodePipelines());
    return encodeKernels().byte_plane_deinterleave_fn;
}

uint64_t deviceWords(const std::vector<uint32_t>& words) {
    uint64_t buffer = 0;
    EXPECT_EQ(gpuOps().memAlloc(&buffer, words.size() * 4), Error::None);
    EXPECT_EQ(gpuOps().memcpyHtoD(buffer, words.data(), words.size() * 4), Error::None);
    return buffer;
}

std::vector<uint32_t> hostWords(uint64_t buffer, size_t count) {
    std::vector<uint32_t> words(count);
    EXPECT_EQ(gpuOps().memcpyDtoH(words.data(), buffer, count * 4), Error::None);
    return words;
}

std::vector<uint32_t> iota(size_t count, uint32_t first) {
    std::vector<uint32_t> words(count);
    std::iota(words.begin(), words.end(), first);
    return words;
}

TEST(KernelLaunch, BindingsOffsetsAndPushConstantsReachTheKernel) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle add = addKernel();
        ASSERT_EQ(vulkanContext().min_storage_buffer_offset_alignment, 16u);
        uint64_t stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        const uint64_t src = deviceWords(iota(100, 1000));
        const uint64_t dst = deviceWords(std::vector<uint32_t>(100, 0));

        for (StreamHandle st : {StreamHandle{0}, stream}) {
            SCOPED_TRACE(st);
            ASSERT_EQ(launchAddWords(add, src, dst, 70, 5, st), Error::None);
            ASSERT_EQ(ops.streamSynchronize(st), Error::None);
            std::vector<uint32_t> out = hostWords(dst, 100);
            for (uint32_t i = 0; i < 70; ++i) ASSERT_EQ(out[i], 1000 + i + 5) << i;

            // Source at byte 32 (word 8), destination from its start (offset 0: the whole buffer).
            const uint64_t offsets[2] = {32, 0};
            ASSERT_EQ(launchAddWords(add, src, dst, 64, 7, st, offsets), Error::None);
            ASSERT_EQ(ops.streamSynchronize(st), Error::None);
            out = hostWords(dst, 100);
            for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(out[i], 1008 + i + 7) << i;
        }

        const uint64_t misaligned[2] = {24, 0};
        testing::internal::CaptureStderr();
        EXPECT_EQ(launchAddWords(add, src, dst, 8, 1, stream, misaligned), Error::BadRequest);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "error: procLaunchKernel: SSBO binding 0 offset 24 violates minStorageBufferOffsetAlignment 16\n");
        const uint64_t at_end[2] = {0, 400};
        EXPECT_EQ(launchAddWords(add, src, dst, 8, 1, stream, at_end), Error::BadRequest);
        EXPECT_FALSE(streamRecord(stream)->compute_begun);  // nothing recorded
    });
}

// A binding longer than the device's storage-buffer range is an error: cut
// to the range, the kernel's writes past it would be dropped without a word.
TEST(KernelLaunch, BindingsBeyondTheStorageBufferRangeAreRefused) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle add = addKernel();
        uint64_t stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        const uint64_t src = deviceWords(iota(100, 1000));
        const uint64_t dst = deviceWords(std::vector<uint32_t>(100, 0));
        // The device as if its range were 256 bytes (64 words).
        vulkanContext().max_storage_buffer_range = 256;
        for (StreamHandle st : {StreamHandle{0}, stream}) {
            SCOPED_TRACE(st);
            testing::internal::CaptureStderr();
            EXPECT_EQ(launchAddWords(add, src, dst, 100, 5, st), Error::BadRequest);
            EXPECT_EQ(testing::internal::GetCapturedStderr(),
                      "error: procLaunchKernel: SSBO binding 0 range 400 exceeds maxStorageBufferRange 256\n");
            if (st) EXPECT_FALSE(streamRecord(st)->compute_begun);
            // Offsets that leave at most the range in both bindings fit.
            const uint64_t offsets[2] = {144, 144};
            ASSERT_EQ(launchAddWords(add, src, dst, 64, 1, st, offsets), Error::None);
            ASSERT_EQ(ops.streamSynchronize(st), Error::None);
            const std::vector<uint32_t> out = hostWords(dst, 100);
            for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(out[36 + i], 1036 + i + 1) << i;
        }
    });
}

TEST(KernelLaunch, BadArgumentsAreRefusedBeforeAnythingIsRecorded) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle add = addKernel();
        uint64_t stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        uint64_t src = deviceWords(iota(32, 0));
        uint64_t dst = deviceWords(iota(32, 0));
        uint64_t none = 0;
        uint64_t freed = deviceWords(iota(32, 0));
        ASSERT_EQ(ops.memFree(freed), Error::None);
        uint32_t count = 32, value = 1, pad = 0;
        void* missing_push[] = {&src, &dst, &count, nullptr, &pad};
        void* missing_buffer[] = {&src, nullptr, &count, &value, &pad};
        void* zero_handle[] = {&src, &none, &count, &value, &pad};
        void* freed_handle[] = {&freed, &dst, &count, &value, &pad};
        const struct {
            const char* name;
            KernelHandle kernel;
            void** params;
        } cases[] = {
            {"no kernel", VK_NULL_HANDLE, missing_push},
            {"unknown pipeline", reinterpret_cast<KernelHandle>(uintptr_t{0xBAD0}), missing_push},
            {"null push entry", add, missing_push},
            {"null buffer entry", add, missing_buffer},
            {"handle 0", add, zero_handle},
            {"freed buffer", add, freed_handle},
            {"no params", add, nullptr},
        };
        for (const auto& c : cases)
            for (StreamHandle st : {StreamHandle{0}, stream})
                EXPECT_EQ(ops.launchKernel(c.kernel, 1, 1, 1, 32, 1, 1, 0, st, c.params, nullptr, nullptr), Error::BadRequest)
                    << c.name << " stream " << st;
        EXPECT_FALSE(streamRecord(stream)->compute_begun);
    });
}

struct PoolCalls {
    static inline PFN_vkResetDescriptorPool real_reset = nullptr;
    static inline PFN_vkDeviceWaitIdle real_idle = nullptr;
    static inline int resets = 0;
    static inline int idles = 0;
    static VkResult reset(VkDevice d, VkDescriptorPool p, VkDescriptorPoolResetFlags f) {
        resets += p == vulkanContext().transient_pool;
        return real_reset(d, p, f);
    }
    static VkResult idle(VkDevice d) {
        ++idles;
        return real_idle(d);
    }
    static void install() {
        VulkanFunctions& vk = vulkanContext().vk;
        real_reset = vk.vkResetDescriptorPool;
        real_idle = vk.vkDeviceWaitIdle;
        vk.vkResetDescriptorPool = reset;
        vk.vkDeviceWaitIdle = idle;
    }
};

TEST(KernelLaunch, SharedTransientPoolIsResetAfter3500OffsetLaunches) {
    inChildProcess([] {
        readyOps();
        const KernelHandle add = addKernel();
        const uint64_t src = deviceWords(iota(3600, 0));
        const uint64_t dst = deviceWords(std::vector<uint32_t>(3600, 0));
        PoolCalls::install();
        const uint64_t offsets[2] = {0, 0};
        for (uint32_t i = 0; i < kTransientSetsBeforeReset; ++i)
            ASSERT_EQ(launchAddWords(add, src, dst, 1 + i, 1, 0, offsets), Error::None) << i;
        EXPECT_EQ(vulkanContext().transient_sets, kTransientSetsBeforeReset);
        EXPECT_EQ(PoolCalls::resets, 0);
        // The 3501st waits for the device, resets the pool and starts counting anew.
        ASSERT_EQ(launchAddWords(add, src, dst, 3600, 2, 0, offsets), Error::None);
        EXPECT_EQ(PoolCalls::resets, 1);
        EXPECT_EQ(PoolCalls::idles, 1);
        EXPECT_EQ(vulkanContext().transient_sets, 1u);
        const std::vector<uint32_t> out = hostWords(dst, 3600);
        for (uint32_t i = 0; i < 3600; ++i) ASSERT_EQ(out[i], i + 2) << i;
    });
}

TEST(KernelLaunch, ManyOffsetLaunchesInOneRecordingKeepTheirOwnSets) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle add = addKernel();
        uint64_t stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        constexpr uint32_t kLaunches = 5000;  // more than the shared pool's reset point and its size
        const uint64_t src = deviceWords(iota(16, 100));
        const uint64_t dst = deviceWords(std::vector<uint32_t>(kLaunches * 16, 0));
        PoolCalls::install();
        for (uint32_t k = 0; k < kLaunches; ++k) {
            const uint64_t offsets[2] = {0, uint64_t{k} * 64};
            ASSERT_EQ(launchAddWords(add, src, dst, 16, k, stream, offsets), Error::None) << k;
        }
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        EXPECT_EQ(PoolCalls::resets, 0);
        EXPECT_EQ(vulkanContext().transient_sets, 0u);
        const std::vector<uint32_t> out = hostWords(dst, kLaunches * 16);
        for (uint32_t k = 0; k < kLaunches; ++k)
            for (uint32_t i = 0; i < 16; ++i) ASSERT_EQ(out[k * 16 + i], 100 + i + k) << k << " " << i;
    });
}

TEST(KernelLaunch, SecondLaunchOfAKernelInOneRecordingDoesNotRebindTheFirst) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        uint64_t stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        const uint64_t a = deviceWords(iota(64, 1000));
        const uint64_t b = deviceWords(std::vector<uint32_t>(64, 0));
        const uint64_t c = deviceWords(std::vector<uint32_t>(64, 0));

        // An encode kernel: b = a + 1, then c = b + 2, twice over (the second
        // round reuses the sets the first one cached).
        const KernelHandle add = addKernel();
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(launchAddWords(add, a, b, 64, 1, stream), Error::None);
            ASSERT_EQ(ops.streamComputeBarrier(stream), Error::None);
            ASSERT_EQ(launchAddWords(add, b, c, 64, 2, stream), Error::None);
            ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
            const std::vector<uint32_t> b_words = hostWords(b, 64);
            const std::vector<uint32_t> c_words = hostWords(c, 64);
            for (uint32_t i = 0; i < 64; ++i) {
                ASSERT_EQ(b_words[i], 1001 + i) << i;
                ASSERT_EQ(c_words[i], 1003 + i) << i;
            }
        }

        // A decode kernel (the stand-in writes each invocation's index into
        // binding 0): the first dispatch must write a, not b.
        const KernelHandle probe = vulkanContext().decode_kernels.chunk_combine_fn;
        uint64_t ab[2] = {a, b}, bc[2] = {b, c};
        uint32_t push[5] = {};
        void* first[] = {&ab[0], &ab[1], &push[0], &push[1], &push[2], &push[3], &push[4]};
        void* second[] = {&bc[0], &bc[1], &push[0], &push[1], &push[2], &push[3], &push[4]};
        ASSERT_EQ(ops.launchKernel(probe, 2, 1, 1, 32, 1, 1, 0, stream, first, nullptr, nullptr), Error::None);
        ASSERT_EQ(ops.launchKernel(probe, 2, 1, 1, 32, 1, 1, 0, stream, second, nullptr, nullptr), Error::None);
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        EXPECT_EQ(hostWords(a, 64), iota(64, 0));
        EXPECT_EQ(hostWords(b, 64), iota(64, 0));
    });
}

// Two threads, each with its own stream, launch the same kernel without
// offsets at once: each stream binds its own set.
struct LaunchLoop {
    KernelHandle kernel;
    uint64_t stream, src, dst;
    uint32_t add;
    int failures = 0;
    static void run(void* arg) {
        auto* self = static_cast<LaunchLoop*>(arg);
        for (uint32_t round = 0; round < 200; ++round) {
            const bool ok = launchAddWords(self->kernel, self->src, self->dst, 256, self->add + round, self->stream) == Error::None &&
                            gpuOps().streamSynchronize(self->stream) == Error::None;
            std::vector<uint32_t> out(256);
            if (!ok || gpuOps().memcpyDtoH(out.data(), self->dst, 1024) != Error::None) {
                ++self->failures;
                continue;
            }
            for (uint32_t i = 0; i < 256; ++i)
                if (out[i] != self->add + round + i) {
                    ++self->failures;
                    break;
                }
        }
    }
};

TEST(KernelLaunch, StreamsOnTwoThreadsShareNoDescriptorSet) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle add = addKernel();
        const uint64_t src = deviceWords(iota(256, 0));
        LaunchLoop loops[2];
        for (uint32_t t = 0; t < 2; ++t) {
            uint64_t stream = 0;
            ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
            loops[t] = {add, stream, src, deviceWords(std::vector<uint32_t>(256, 0)), 100000 * (t + 1)};
        }
        Thread threads[2];
        for (uint32_t t = 0; t < 2; ++t)
            ASSERT_EQ(startThread(&threads[t], LaunchLoop::run, &loops[t], kStack16MiB), Error::None);
        for (Thread& thread : threads) joinThread(&thread);
        EXPECT_EQ(loops[0].failures, 0);
        EXPECT_EQ(loops[1].failures, 0);
    });
}

}  // namespace
}  // namespace kvn
