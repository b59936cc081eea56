// The kernel toolchain's probe kernels on lavapipe, launched through the
// device layer (bindings, push constants, a device address, streams) and
// compared with the same kernels' host builds.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/kernel_runtime/launch.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/kernel_table.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/test_support.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::readyOps;

std::vector<uint32_t> randomWords(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> words(n);
    for (uint32_t& w : words) w = rng();
    return words;
}

// A probe module as a pipeline of `bindings` storage buffers and `push_bytes` of push constants.
KernelHandle buildProbe(const char* entry, uint32_t bindings, uint32_t push_bytes) {
    const EmbeddedModule* module = findKernelModule(entry);
    EXPECT_NE(module, nullptr) << entry;
    if (!module) return nullptr;
    const EncodeKernelSpec spec{nullptr, entry, entry, bindings, push_bytes, false, 0, 0, EncodeGroup::Alone};
    KernelHandle pipeline = nullptr;
    EXPECT_TRUE(buildEncodePipeline(module->bytes, module->size, spec, &pipeline)) << entry;
    return pipeline;
}

uint64_t deviceCopy(const void* bytes, uint64_t size) {
    uint64_t buffer = 0;
    EXPECT_EQ(gpuOps().memAlloc(&buffer, size), Error::None);
    EXPECT_EQ(gpuOps().memcpyHtoD(buffer, bytes, size), Error::None);
    return buffer;
}

std::vector<uint32_t> readBack(uint64_t buffer, size_t words, StreamHandle stream) {
    std::vector<uint32_t> out(words);
    EXPECT_EQ(gpuOps().memcpyDtoHAsync(out.data(), buffer, words * 4, stream), Error::None);
    EXPECT_EQ(gpuOps().streamSynchronize(stream), Error::None);
    return out;
}

// Every case runs without a stream and on one.
std::vector<StreamHandle> streams() {
    uint64_t stream = 0;
    EXPECT_EQ(gpuOps().streamCreate(&stream, 0), Error::None);
    return {0, stream};
}

TEST(ProbeKernels, BlockScanMatchesTheHostBuild) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle kernel = buildProbe("kvnProbeBlockScanKernel", 2, 8);
        ASSERT_NE(kernel, nullptr);
        for (StreamHandle stream : streams()) {
            for (uint32_t count : {1u, 255u, 256u, 257u, 1000u, 70001u}) {
                for (uint32_t byte_mode : {0u, 1u}) {
                    SCOPED_TRACE(std::to_string(count) + (byte_mode ? " bytes" : " words") + " stream " +
                                 std::to_string(stream));
                    const std::vector<uint32_t> words = randomWords(count, count * 3 + byte_mode);
                    std::vector<uint32_t> host(count, 0xDEADBEEF);
                    const uint32_t blocks = (count + 255) / 256;
                    const kvn::host::LaunchResult r = kvn::host::runKernel(
                        "kvnProbeBlockScanKernel", {.grid_x = blocks}, words.data(), host.data(), count, byte_mode);
                    ASSERT_TRUE(r.ok()) << r.fault;

                    uint64_t in = deviceCopy(words.data(), count * 4);
                    uint64_t out = deviceCopy(std::vector<uint32_t>(count, 0xDEADBEEF).data(), count * 4);
                    uint32_t n = count, mode = byte_mode;
                    void* params[] = {&in, &out, &n, &mode};
                    ASSERT_EQ(ops.launchKernel(kernel, blocks, 1, 1, 256, 1, 1, 0, stream, params, nullptr, nullptr), Error::None);
                    EXPECT_EQ(readBack(out, count, stream), host);
                    ops.memFree(in);
                    ops.memFree(out);
                }
            }
        }
    });
}

TEST(ProbeKernels, WarpCompactionMatchesTheHostBuild) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle kernel = buildProbe("kvnProbeWarpCompactKernel", 4, 8);
        ASSERT_NE(kernel, nullptr);
        constexpr uint32_t kResultsPerThread = 10;
        constexpr uint32_t kWarpsPerBlock = 2;  // blocks of 32 x 2; the module runs a warp per workgroup
        const struct {
            uint32_t count, drop_mask, blocks;
        } cases[] = {{1, 0x3, 1}, {31, 0x1, 1}, {33, 0xFFFFFFFF, 1}, {64 * 5 + 7, 0x3, 2}, {5000, 0x5, 3}, {5000, 0x5, 64}};
        for (StreamHandle stream : streams()) {
            for (const auto& c : cases) {
                SCOPED_TRACE(std::to_string(c.count) + " in " + std::to_string(c.blocks) + " blocks, stream " +
                             std::to_string(stream));
                std::vector<uint32_t> values = randomWords(c.count, c.count ^ c.drop_mask);
                for (uint32_t i = 0; i < c.count; i += 7) values[i] = 0;
                const uint32_t tiles = (c.count + 31) / 32;
                std::vector<uint32_t> kept(tiles * 32, 0), counts(tiles + 1, 0), lanes(c.count * kResultsPerThread, 0);
                const kvn::host::LaunchResult r =
                    kvn::host::runKernel("kvnProbeWarpCompactKernel", {.grid_x = c.blocks}, values.data(), kept.data(),
                                         counts.data(), lanes.data(), c.count, c.drop_mask);
                ASSERT_TRUE(r.ok()) << r.fault;

                uint64_t in = deviceCopy(values.data(), values.size() * 4);
                uint64_t kept_d = deviceCopy(std::vector<uint32_t>(kept.size(), 0).data(), kept.size() * 4);
                uint64_t counts_d = deviceCopy(std::vector<uint32_t>(counts.size(), 0).data(), counts.size() * 4);
                uint64_t lanes_d = deviceCopy(std::vector<uint32_t>(lanes.size(), 0).data(), lanes.size() * 4);
                uint32_t n = c.count, mask = c.drop_mask;
                void* params[] = {&in, &kept_d, &counts_d, &lanes_d, &n, &mask};
                ASSERT_EQ(ops.launchKernel(kernel, c.blocks * kWarpsPerBlock, 1, 1, 32, 2, 1, 0, stream, params,
                                           nullptr, nullptr),
                          Error::None);
                EXPECT_EQ(readBack(counts_d, counts.size(), stream), counts);
                EXPECT_EQ(readBack(kept_d, kept.size(), stream), kept);
                EXPECT_EQ(readBack(lanes_d, lanes.size(), stream), lanes);
                for (uint64_t b : {in, kept_d, counts_d, lanes_d}) ops.memFree(b);
            }
        }
    });
}

TEST(ProbeKernels, AtomicsThroughABindingAndADeviceAddressMatchTheHostBuild) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle kernel = buildProbe("kvnProbeAtomicAddressKernel", 2, 16);
        ASSERT_NE(kernel, nullptr);
        // The launch switch is a specialization constant the device layer leaves at 0.
        uint32_t* launch_switch = kvn::host::findGlobal("g_kvn_probe_switch");
        ASSERT_NE(launch_switch, nullptr);
        *launch_switch = 0;
        const std::vector<uint32_t> fresh_summary = {UINT32_MAX, 0, 0, 0, UINT32_MAX, 0, 0, 0, 0, 0};
        const struct {
            uint32_t count, bins;
        } cases[] = {{1, 1}, {127, 7}, {128, 256}, {129, 3}, {100000, 256}};
        for (StreamHandle stream : streams()) {
            for (const auto& c : cases) {
                SCOPED_TRACE(std::to_string(c.count) + " stream " + std::to_string(stream));
                const std::vector<uint32_t> values = randomWords(c.count, c.count + c.bins);
                std::vector<uint32_t> summary = fresh_summary, histogram(c.bins, 0);
                const uint32_t blocks = (c.count + 127) / 128;
                uint32_t* histogram_address = histogram.data();
                const kvn::host::LaunchResult r =
                    kvn::host::runKernel("kvnProbeAtomicAddressKernel", {.grid_x = blocks}, values.data(),
                                         summary.data(), histogram_address, c.count, c.bins);
                ASSERT_TRUE(r.ok()) << r.fault;

                uint64_t in = deviceCopy(values.data(), values.size() * 4);
                uint64_t summary_d = deviceCopy(fresh_summary.data(), fresh_summary.size() * 4);
                uint64_t histogram_d = deviceCopy(std::vector<uint32_t>(c.bins, 0).data(), c.bins * 4);
                const uint64_t address = bufferDeviceAddress(histogram_d);
                ASSERT_NE(address, 0u);
                uint32_t low = uint32_t(address), high = uint32_t(address >> 32), n = c.count, bins = c.bins;
                void* params[] = {&in, &summary_d, &low, &high, &n, &bins};
                ASSERT_EQ(ops.launchKernel(kernel, blocks, 1, 1, 128, 1, 1, 0, stream, params, nullptr, nullptr), Error::None);
                EXPECT_EQ(readBack(histogram_d, c.bins, stream), histogram);
                std::vector<uint32_t> device_summary = readBack(summary_d, summary.size(), stream);
                // Which thread wins the compare-and-swap is the schedule's choice.
                EXPECT_GE(device_summary[5], 1u);
                EXPECT_LE(device_summary[5], c.count);
                device_summary[5] = summary[5] = 0;
                EXPECT_EQ(device_summary, summary);
                for (uint64_t b : {in, summary_d, histogram_d}) ops.memFree(b);
            }
        }
    });
}

// Grids above the device's 65,535 workgroups per dimension run in pieces; the
// kernel sees the workgroup ids of the whole grid and every workgroup runs once.
TEST(ProbeKernels, GridsAboveTheWorkgroupLimitRunEveryWorkgroupOnce) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        ASSERT_EQ(vulkanContext().max_workgroup_count[0], 65535u);
        ASSERT_EQ(vulkanContext().max_workgroup_count[1], 65535u);
        const KernelHandle kernel = buildProbe("kvnProbeGridKernel", 1, 4);
        ASSERT_NE(kernel, nullptr);
        const struct {
            uint32_t x, y;
        } grids[] = {{65535, 1}, {65536, 1}, {70001, 1}, {2, 65536}, {3, 1}};
        for (StreamHandle stream : streams()) {
            for (const auto& g : grids) {
                SCOPED_TRACE(std::to_string(g.x) + " x " + std::to_string(g.y) + " stream " + std::to_string(stream));
                const size_t blocks = size_t{g.x} * g.y;
                std::vector<uint32_t> host(blocks, 0);
                const kvn::host::LaunchResult r =
                    kvn::host::runKernel("kvnProbeGridKernel", {.grid_x = g.x, .grid_y = g.y}, host.data(), g.x);
                ASSERT_TRUE(r.ok()) << r.fault;
                ASSERT_EQ(host, std::vector<uint32_t>(blocks, 528));

                uint64_t counts = deviceCopy(std::vector<uint32_t>(blocks, 0).data(), blocks * 4);
                uint32_t row = g.x;
                void* params[] = {&counts, &row};
                ASSERT_EQ(ops.launchKernel(kernel, g.x, g.y, 1, 32, 1, 1, 0, stream, params, nullptr, nullptr), Error::None);
                EXPECT_EQ(readBack(counts, blocks, stream), host);
                ops.memFree(counts);
            }
        }
    });
}

// A kernel that reads its grid size would see only its piece's: such a grid
// is refused before anything is recorded.
TEST(ProbeKernels, GridsAboveTheLimitAreRefusedForKernelsThatReadTheGridSize) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        const KernelHandle kernel = buildProbe("kvnProbeWarpCompactKernel", 4, 8);
        ASSERT_NE(kernel, nullptr);
        uint64_t stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, 0), Error::None);
        uint64_t words = deviceCopy(std::vector<uint32_t>(64, 0).data(), 256);
        uint32_t n = 0, mask = 0;
        void* params[] = {&words, &words, &words, &words, &n, &mask};
        testing::internal::CaptureStderr();
        EXPECT_EQ(ops.launchKernel(kernel, 65536, 1, 1, 32, 2, 1, 0, stream, params, nullptr, nullptr), Error::BadRequest);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "error: procLaunchKernel: grid (65536,1,1) exceeds maxComputeWorkGroupCount (65535,65535,65535) "
                  "and the kernel reads its grid size\n");
        EXPECT_FALSE(streamRecord(stream)->compute_begun);
        // Within the limits it runs.
        EXPECT_EQ(ops.launchKernel(kernel, 65534, 1, 1, 32, 2, 1, 0, stream, params, nullptr, nullptr), Error::None);
        EXPECT_EQ(ops.streamSynchronize(stream), Error::None);
    });
}

}  // namespace
}  // namespace kvn
