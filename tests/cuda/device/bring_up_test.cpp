// One bring-up outcome per process: each body runs in a child of its own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/platform/platform.h"
#include "cuda/device/cuda_context.h"
#include "korvane.h"
#include "tests/cuda/stand_in.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

KvnStatus createAndDestroy() {
    void* handle = nullptr;
    const KvnStatus status = kvnCreate(&handle);
    kvnDestroy(handle);
    return status;
}

TEST(BringUp, NoCudaIsSilentAndPermanent) {
    inChildProcess(
        [] {
            setenv("KVN_NO_CUDA", "1", 1);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
            unsetenv("KVN_NO_CUDA");
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
            EXPECT_EQ(standInCounts().contexts, 0u);
        },
        "^$");
}

TEST(BringUp, CreatesAContextWhenNoneIsCurrent) {
    inChildProcess(
        [] {
            setenv("KVN_E2E_TIMER", "1", 1);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_SUCCESS);
            EXPECT_EQ(standInCounts().contexts, 1u);
            EXPECT_EQ(cudaContext().sm_count, 8u);
            EXPECT_NE(cudaContext().decode_kernels.kernel_fn, nullptr);
            EXPECT_NE(cudaContext().decode_kernels.scan_parse_fn, nullptr);
            EXPECT_NE(cudaContext().decode_kernels.huff_decode_fn, nullptr);
        },
        "\\[gpu-init\\] dll\\+cuInit\\+ctx=create [0-9.]+  lz-module\\(PTX JIT\\) [0-9.]+  huff-module\\(PTX JIT\\) "
        "[0-9.]+  total [0-9.]+ ms");
}

TEST(BringUp, AdoptsTheCallersCurrentContext) {
    inChildProcess(
        [] {
            setenv("KVN_E2E_TIMER", "1", 1);
            const CudaFunctions& cu = standIn().cu;
            ASSERT_EQ(cu.cuInit(0), kCuSuccess);
            CuContext mine = nullptr;
            ASSERT_EQ(cu.cuCtxCreate(&mine, 0, 0), kCuSuccess);
            void* handle = nullptr;
            ASSERT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
            EXPECT_EQ(standInCounts().contexts, 1u);
            EXPECT_EQ(cudaContext().context, mine);
            // A worker thread makes that same context current.
            const uint8_t garbage[20] = {};
            uint8_t out[16];
            uint64_t size = 0;
            DecompressOpts opts{};
            kvnDecompressHost(handle, garbage, sizeof garbage, out, sizeof out, &size, &opts);
            EXPECT_EQ(reinterpret_cast<CuContext>(standIn().lastSetContext()), mine);
            kvnDestroy(handle);
        },
        "ctx=piggyback");
}

TEST(DriverWithoutV2, BringsUpWithThePlainContextCreate) {
    if (findSymbol(standIn().library, "cuCtxCreate_v2")) GTEST_SKIP() << "this driver has cuCtxCreate_v2";
    inChildProcess(
        [] {
            setenv("KVN_E2E_TIMER", "1", 1);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_SUCCESS);
        },
        "ctx=create");
}

TEST(NoDriver, CreateReportsTheDevice) {
    if (driverLoadable()) GTEST_SKIP() << "a libcuda.so.1 is on the loader path";
    inChildProcess(
        [] {
            setenv("KVN_E2E_TIMER", "1", 1);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
        },
        "loading the CUDA driver library \\(nvcuda.dll / libcuda.so.1\\) failed - no NVIDIA driver\\?");
}

TEST(BringUp, ARejectedHuffmanModuleLeavesLevelsOneAndTwo) {
    inChildProcess(
        [] {
            standIn().rejectModule("kvnHuffDecode4StreamKernel", kCuInvalidPtx);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_SUCCESS);
            EXPECT_EQ(cudaContext().decode_kernels.huff_build_fn, nullptr);
            EXPECT_EQ(cudaContext().decode_kernels.huff_decode_fn, nullptr);
            EXPECT_NE(cudaContext().decode_kernels.kernel_fn, nullptr);
        },
        "\\[gpu-init\\] cuModuleLoadData\\(huffman_kernel.ptx\\) failed: CUresult 218; L3\\+ decode disabled "
        "\\(L1/L2 unaffected\\)");
}

TEST(BringUp, AMissingScanParseKernelFailsIt) {
    inChildProcess(
        [] {
            standIn().dropKernel("kvnScanParseKernel");
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
        },
        "^\\[gpu-init\\] required kernel kvnScanParseKernel missing from lz_kernel.ptx; failing bring-up\n$");
}

TEST(BringUp, AFailedStepIsReportedOnceUnderInitDebug) {
    inChildProcess(
        [] {
            setenv("KVN_CUDA_INIT_DEBUG", "1", 1);
            standIn().failCall("cuInit", 0, kCuNoDevice);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
        },
        "^\\[gpu-init\\] FAILED at cuInit \\(CUresult 100\\)\n"
        "\\[gpu-init\\] encode FAILED at decode driver init \\(see its own \\[gpu-init\\] print\\) \\(CUresult 0\\)\n$");
}

TEST(BringUp, AMissingEncodeKernelFailsEveryCreate) {
    inChildProcess(
        [] {
            setenv("KVN_CUDA_INIT_DEBUG", "1", 1);
            standIn().dropKernel("kvnLzEncodeGreedy16Kernel");
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_DEVICE_CALL_FAILED);
            // The decode side is up all the same.
            EXPECT_TRUE(init());
        },
        "^\\[gpu-init\\] encode FAILED at kvnLzEncodeGreedy16Kernel \\(CUresult 500\\)\n$");
}

KvnStatus g_inner_status = KVN_STATUS_SUCCESS;

TEST(BringUp, AReentrantCallIsRefusedNotDeadlocked) {
    inChildProcess(
        [] {
            // The driver calls back into the library while cuInit runs.
            standIn().onInit([] { g_inner_status = createAndDestroy(); });
            EXPECT_EQ(createAndDestroy(), KVN_STATUS_SUCCESS);
            EXPECT_EQ(g_inner_status, KVN_STATUS_DEVICE_CALL_FAILED);
        },
        "^\\[gpu-init\\] BUG: re-entrant ensureEncodePipelines\\(\\) on the same thread; reporting unavailable\n$");
}

TEST(BringUp, AReentrantDecodeBringUpIsRefused) {
    inChildProcess(
        [] {
            standIn().onInit([] { g_inner_status = init() ? KVN_STATUS_SUCCESS : KVN_STATUS_DEVICE_CALL_FAILED; });
            EXPECT_TRUE(init());
            EXPECT_EQ(g_inner_status, KVN_STATUS_DEVICE_CALL_FAILED);
        },
        "^\\[gpu-init\\] BUG: re-entrant init\\(\\) on the same thread; reporting unavailable\n$");
}

TEST(BringUp, FloorCopySetsTheModuleGlobal) {
    inChildProcess([] {
        setenv("KVN_FLOOR_COPY", "1", 1);
        ASSERT_TRUE(init());
        const ModuleGroup& lz = cudaContext().decode_modules[uint32_t(DecodeGroup::Lz)];
        bool found = false;
        for (uint32_t i = 0; i < lz.count; ++i) {
            CuDevicePtr address = 0;
            size_t bytes = 0;
            if (standIn().cu.cuModuleGetGlobal(&address, &bytes, lz.modules[i], "g_kvn_floor_copy") != kCuSuccess)
                continue;
            uint32_t value = 0;
            ASSERT_EQ(standIn().cu.cuMemcpyDtoH(&value, address, 4), kCuSuccess);
            EXPECT_EQ(value, 1u);
            found = true;
        }
        EXPECT_TRUE(found);
    });
}

}  // namespace
}  // namespace kvn::test
