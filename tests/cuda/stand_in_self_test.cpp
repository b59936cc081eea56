// The stand-in driver itself: stream order, events, lazy mode, bounds and
// guard bytes, module checks and launch limits. Each body runs in a child
// process: faults make a driver's error sticky for the process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "kernels/embedded_modules.h"
#include "kernels/format_constants.h"
#include "tests/cuda/stand_in.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

const CudaFunctions& readyDriver() {
    const CudaFunctions& cu = standIn().cu;
    EXPECT_EQ(cu.cuInit(0), kCuSuccess);
    CuContext context = nullptr;
    EXPECT_EQ(cu.cuCtxCreate(&context, 0, 0), kCuSuccess);
    return cu;
}

CuDevicePtr alloc(const CudaFunctions& cu, size_t bytes) {
    CuDevicePtr p = 0;
    EXPECT_EQ(cu.cuMemAlloc(&p, bytes), kCuSuccess);
    return p;
}

CuModule loadEmbedded(const CudaFunctions& cu, std::string_view name) {
    for (const EmbeddedModule& m : embeddedModules()) {
        if (name != m.name) continue;
        CuModule module = nullptr;
        EXPECT_EQ(cu.cuModuleLoadData(&module, m.bytes), kCuSuccess);
        return module;
    }
    ADD_FAILURE() << "no embedded module " << name;
    return nullptr;
}

// Two 16-byte buffers, two non-blocking streams and an event between them.
struct TwoStreams {
    CuDevicePtr a;
    CuDevicePtr b;
    CuStream first;
    CuStream second;
    CuEvent written;
};

TwoStreams twoStreams(const CudaFunctions& cu) {
    TwoStreams t{alloc(cu, 16), alloc(cu, 16), nullptr, nullptr, nullptr};
    EXPECT_EQ(cu.cuStreamCreate(&t.first, kCuStreamNonBlocking), kCuSuccess);
    EXPECT_EQ(cu.cuStreamCreate(&t.second, kCuStreamNonBlocking), kCuSuccess);
    EXPECT_EQ(cu.cuEventCreate(&t.written, 0), kCuSuccess);
    return t;
}

TEST(StandIn, EventsOrderWorkAcrossStreams) {
    for (int lazy : {0, 1}) {
        inChildProcess([lazy] {
            const CudaFunctions& cu = readyDriver();
            standIn().setLazy(lazy);
            const auto [a, b, first, second, written] = twoStreams(cu);
            const char text[16] = "ordered bytes";
            ASSERT_EQ(cu.cuMemcpyHtoDAsync(a, text, 16, first), kCuSuccess);
            ASSERT_EQ(cu.cuEventRecord(written, first), kCuSuccess);
            ASSERT_EQ(cu.cuStreamWaitEvent(second, written, 0), kCuSuccess);
            ASSERT_EQ(cu.cuMemcpyDtoDAsync(b, a, 16, second), kCuSuccess);
            char out[16] = {};
            ASSERT_EQ(cu.cuMemcpyDtoHAsync(out, b, 16, second), kCuSuccess);
            ASSERT_EQ(cu.cuStreamSynchronize(second), kCuSuccess);
            EXPECT_EQ(std::memcmp(out, text, 16), 0);
            ASSERT_EQ(cu.cuEventSynchronize(written), kCuSuccess);
            float ms = -1;
            EXPECT_EQ(cu.cuEventElapsedTime(&ms, written, written), kCuSuccess);
            EXPECT_EQ(ms, 0.0f);
            EXPECT_EQ(cu.cuEventDestroy(written), kCuSuccess);
            EXPECT_EQ(cu.cuStreamDestroy(first), kCuSuccess);
            EXPECT_EQ(cu.cuStreamDestroy(second), kCuSuccess);
            EXPECT_EQ(standInCounts().streams, 0u);
            EXPECT_EQ(standInCounts().events, 0u);
        });
    }
}

TEST(StandIn, LazyModeShowsAMissingSynchronisation) {
    inChildProcess([] {
        const CudaFunctions& cu = readyDriver();
        standIn().setLazy(1);
        const CuDevicePtr a = alloc(cu, 16);
        CuStream side = nullptr;
        ASSERT_EQ(cu.cuStreamCreate(&side, kCuStreamNonBlocking), kCuSuccess);
        const char text[16] = "fresh bytes";
        ASSERT_EQ(cu.cuMemcpyHtoDAsync(a, text, 16, side), kCuSuccess);
        // A synchronous copy does not wait for a non-blocking stream: the
        // planted missing synchronisation reads what was there before.
        char out[16] = {};
        ASSERT_EQ(cu.cuMemcpyDtoH(out, a, 16), kCuSuccess);
        EXPECT_NE(std::memcmp(out, text, 16), 0);
        ASSERT_EQ(cu.cuStreamSynchronize(side), kCuSuccess);
        ASSERT_EQ(cu.cuMemcpyDtoH(out, a, 16), kCuSuccess);
        EXPECT_EQ(std::memcmp(out, text, 16), 0);
    });
}

// Lazy mode 2: a stream's synchronisation runs the other streams' queued
// work first, so a reader that did not wait for the writer's event reads
// what was there before.
TEST(StandIn, LazyModeTwoShowsAMissingEventWait) {
    for (bool wait : {false, true}) {
        inChildProcess([wait] {
            const CudaFunctions& cu = readyDriver();
            standIn().setLazy(2);
            const auto [a, b, writer, reader, written] = twoStreams(cu);
            const char before[16] = "old bytes";
            ASSERT_EQ(cu.cuMemcpyHtoD(a, before, 16), kCuSuccess);
            const char text[16] = "fresh bytes";
            ASSERT_EQ(cu.cuMemcpyHtoDAsync(a, text, 16, writer), kCuSuccess);
            ASSERT_EQ(cu.cuEventRecord(written, writer), kCuSuccess);
            if (wait) ASSERT_EQ(cu.cuStreamWaitEvent(reader, written, 0), kCuSuccess);
            ASSERT_EQ(cu.cuMemcpyDtoDAsync(b, a, 16, reader), kCuSuccess);
            ASSERT_EQ(cu.cuStreamSynchronize(writer), kCuSuccess);
            ASSERT_EQ(cu.cuStreamSynchronize(reader), kCuSuccess);
            char out[16] = {};
            ASSERT_EQ(cu.cuMemcpyDtoH(out, b, 16), kCuSuccess);
            EXPECT_EQ(std::memcmp(out, wait ? text : before, 16), 0);
        });
    }
}

TEST(StandIn, CopiesAndFillsStayInsideOneAllocation) {
    inChildProcess([] {
        const CudaFunctions& cu = readyDriver();
        const CuDevicePtr a = alloc(cu, 16);
        const uint8_t bytes[32] = {};
        EXPECT_EQ(cu.cuMemcpyHtoD(a, bytes, 16), kCuSuccess);
        EXPECT_EQ(cu.cuMemcpyHtoD(a + 8, bytes, 16), kCuInvalidValue);
        EXPECT_EQ(cu.cuMemsetD8(a, 0, 17), kCuInvalidValue);
        EXPECT_EQ(cu.cuMemcpyHtoD(a + 1024, bytes, 1), kCuInvalidValue);
        EXPECT_EQ(cu.cuMemcpyDtoDAsync(a, a + 4096, 8, nullptr), kCuInvalidValue);
        EXPECT_EQ(cu.cuMemcpyDtoDAsync(a + 12, a, 8, nullptr), kCuInvalidValue);
        EXPECT_EQ(cu.cuMemcpyDtoDAsync(a + 8, a, 8, nullptr), kCuSuccess);
        EXPECT_EQ(cu.cuMemFree(a + 4), kCuInvalidValue);
        EXPECT_EQ(cu.cuMemFree(a), kCuSuccess);
        EXPECT_EQ(cu.cuMemcpyHtoD(a, bytes, 1), kCuInvalidValue);
    });
}

TEST(StandIn, CallsNeedInitAndACurrentContext) {
    inChildProcess([] {
        const CudaFunctions& cu = standIn().cu;
        CuDevicePtr p = 0;
        EXPECT_EQ(cu.cuMemAlloc(&p, 16), kCuNotInitialized);
        readyDriver();
        CuResult other_thread = kCuSuccess;
        std::thread([&] { other_thread = cu.cuMemAlloc(&p, 16); }).join();
        EXPECT_EQ(other_thread, kCuInvalidContext);
        EXPECT_EQ(cu.cuMemAlloc(&p, 16), kCuSuccess);
    });
}

// The prefix-sum kernel writes one start per chunk: a starts buffer one
// entry short takes a write past its end.
void launchPrefixSum(const CudaFunctions& cu, uint32_t chunks, size_t starts_entries, CuDevicePtr* starts_out) {
    const CuModule module = loadEmbedded(cu, "descriptor_kernel");
    CuFunction kernel = nullptr;
    ASSERT_EQ(cu.cuModuleGetFunction(&kernel, module, "kvnPrefixSumChunksKernel"), kCuSuccess);
    CuDevicePtr descs = alloc(cu, chunks * KVN_CHUNK_DESC_WORDS * 4);
    ASSERT_EQ(cu.cuMemsetD8(descs, 0, chunks * KVN_CHUNK_DESC_WORDS * 4), kCuSuccess);
    CuDevicePtr starts = alloc(cu, starts_entries * 4);
    CuDevicePtr total = alloc(cu, 4);
    uint32_t count = chunks;
    uint32_t subchunk = 0;
    void* params[] = {&descs, &starts, &total, &count, &subchunk};
    ASSERT_EQ(cu.cuLaunchKernel(kernel, 1, 1, 1, 256, 1, 1, 0, nullptr, params, nullptr), kCuSuccess);
    *starts_out = starts;
}

TEST(StandIn, KernelsRunOnTheirHostBuilds) {
    inChildProcess([] {
        const CudaFunctions& cu = readyDriver();
        CuDevicePtr starts = 0;
        launchPrefixSum(cu, 40, 40, &starts);
        ASSERT_EQ(cu.cuCtxSynchronize(), kCuSuccess);
        uint32_t out[40] = {};
        ASSERT_EQ(cu.cuMemcpyDtoH(out, starts, sizeof out), kCuSuccess);
        for (uint32_t i = 0; i < 40; ++i) EXPECT_EQ(out[i], i);
        EXPECT_EQ(standInCounts().launches, 1u);
    });
}

TEST(StandIn, GuardBytesCatchAnOutOfBoundsKernelWrite) {
    inChildProcess(
        [] {
            const CudaFunctions& cu = readyDriver();
            CuDevicePtr starts = 0;
            launchPrefixSum(cu, 40, 39, &starts);
            EXPECT_EQ(cu.cuCtxSynchronize(), kCuIllegalAddress);
            // The error stays with the context.
            EXPECT_EQ(cu.cuCtxSynchronize(), kCuIllegalAddress);
        },
        "guard bytes above the allocation .* damaged after kvnPrefixSumChunksKernel");
}

TEST(StandIn, LaunchesKeepToTheLimits) {
    inChildProcess([] {
        const CudaFunctions& cu = readyDriver();
        const CuModule module = loadEmbedded(cu, "descriptor_kernel");
        CuFunction kernel = nullptr;
        ASSERT_EQ(cu.cuModuleGetFunction(&kernel, module, "kvnPrefixSumChunksKernel"), kCuSuccess);
        CuDevicePtr buffer = alloc(cu, 64);
        uint32_t zero = 0;
        void* params[] = {&buffer, &buffer, &buffer, &zero, &zero};
        // The block the kernel was built for, and no more than 1024 threads.
        EXPECT_EQ(cu.cuLaunchKernel(kernel, 1, 1, 1, 128, 1, 1, 0, nullptr, params, nullptr), kCuInvalidValue);
        EXPECT_EQ(cu.cuLaunchKernel(kernel, 1, 1, 1, 2048, 1, 1, 0, nullptr, params, nullptr), kCuInvalidValue);
        EXPECT_EQ(cu.cuLaunchKernel(kernel, 0, 1, 1, 256, 1, 1, 0, nullptr, params, nullptr), kCuInvalidValue);
        EXPECT_EQ(cu.cuLaunchKernel(kernel, 1, 65536, 1, 256, 1, 1, 0, nullptr, params, nullptr), kCuInvalidValue);
        // A cooperative grid must fit on the device at once.
        int per_sm = 0;
        ASSERT_EQ(cu.cuOccupancyMaxActiveBlocksPerMultiprocessor(&per_sm, kernel, 256, 0), kCuSuccess);
        standIn().setSmCount(2);
        EXPECT_EQ(cu.cuLaunchCooperativeKernel(kernel, unsigned(per_sm) * 2 + 1, 1, 1, 256, 1, 1, 0, nullptr, params),
                  kCuCooperativeLaunchTooLarge);
        // A buffer argument outside device memory.
        uint64_t wild = 0x10;
        void* wild_params[] = {&wild, &buffer, &buffer, &zero, &zero};
        EXPECT_EQ(cu.cuLaunchKernel(kernel, 1, 1, 1, 256, 1, 1, 0, nullptr, wild_params, nullptr), kCuIllegalAddress);
        EXPECT_EQ(cu.cuLaunchKernel(kernel, 1, 1, 1, 256, 1, 1, 0, nullptr, params, nullptr), kCuSuccess);
        EXPECT_EQ(cu.cuCtxSynchronize(), kCuSuccess);
    });
}

TEST(StandIn, ModulesAreCheckedAgainstTheHostBuilds) {
    inChildProcess(
        [] {
            const CudaFunctions& cu = readyDriver();
            const char wrong[] =
                ".version 8.0\n.target sm_80\n.address_size 64\n"
                ".visible .entry kvnPrefixSumChunksKernel(\n\t.param .u64 p0,\n\t.param .u32 p1\n)\n{\n\tret;\n}\n";
            CuModule module = nullptr;
            EXPECT_EQ(cu.cuModuleLoadData(&module, wrong), kCuInvalidPtx);
            EXPECT_EQ(cu.cuModuleLoadData(&module, "not ptx"), kCuInvalidPtx);
            // Rejections and dropped kernels set by the tests.
            standIn().rejectModule("kvnMergeHuffDescsKernel", 218);
            for (const EmbeddedModule& m : embeddedModules()) {
                if (std::string_view(m.name) != "descriptor_kernel") continue;
                EXPECT_EQ(cu.cuModuleLoadData(&module, m.bytes), kCuInvalidPtx);
            }
            standIn().dropKernel("kvnScanParseKernel");
            const CuModule scan = loadEmbedded(cu, "subchunk_scan_kernel");
            CuFunction kernel = nullptr;
            EXPECT_EQ(cu.cuModuleGetFunction(&kernel, scan, "kvnScanParseKernel"), kCuNotFound);
            EXPECT_EQ(cu.cuModuleGetFunction(&kernel, scan, "kvnGatherRawOff16Kernel"), kCuSuccess);
            CuDevicePtr floor = 0;
            size_t bytes = 0;
            const CuModule lz = loadEmbedded(cu, "lz_decode_kernel");
            EXPECT_EQ(cu.cuModuleGetGlobal(&floor, &bytes, lz, "g_kvn_floor_copy"), kCuSuccess);
            EXPECT_EQ(bytes, 4u);
        },
        "entry kvnPrefixSumChunksKernel does not match its host build");
}

TEST(StandIn, InjectedFailuresComeOnce) {
    inChildProcess([] {
        const CudaFunctions& cu = readyDriver();
        standIn().failCall("cuMemAlloc_v2", 1, kCuOutOfMemory);
        CuDevicePtr p = 0;
        EXPECT_EQ(cu.cuMemAlloc(&p, 16), kCuSuccess);
        EXPECT_EQ(cu.cuMemAlloc(&p, 16), kCuOutOfMemory);
        EXPECT_EQ(cu.cuMemAlloc(&p, 16), kCuSuccess);
        standIn().setMemory(64);
        EXPECT_EQ(cu.cuMemAlloc(&p, 64), kCuOutOfMemory);
    });
}

}  // namespace
}  // namespace kvn::test
