// Devices without the WRT kernels: a missing decode kernel leaves the
// inverse to the CPU decoder, a missing encode kernel leaves the transform
// to the CPU encoder, and either way the frames round-trip.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/format/frame_header.h"
#include "encode_test_support.h"
#include "tests/support/child_process.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/kernel_table.h"
#include "kernels/embedded_modules.h"
#include "pipeline/encode/wrt_encode_gpu.h"

namespace kvn::test {
namespace {

void useModulesWithout(const char* left_out) {
    static std::vector<EmbeddedModule> modules;
    modules.clear();
    for (const EmbeddedModule& m : embeddedModules())
        if (std::string_view(m.name) != left_out) modules.push_back(m);
    useKernelModules(modules);
}

CompressOpts wrtOpts() {
    CompressOpts opts = withTrailers(1);
    opts.wrt = 1;
    return opts;
}

// In the child: the frame of `input` carries a WRT section and restores it.
void roundTripInChild(const Bytes& input) {
    void* handle = nullptr;
    ASSERT_EQ(kvnCreate(&handle), 0u);
    Bytes frame(input.size() * 2 + 4096);
    uint64_t size = 0;
    const CompressOpts opts = wrtOpts();
    ASSERT_EQ(kvnCompressHost(handle, input.data(), input.size(), frame.data(), frame.size(), &size, &opts), 0u);
    frame.resize(size);
    const FrameHeader header = parseFrameHeader(frame.data(), frame.size());
    EXPECT_TRUE(header.flags & kFrameWrtSection);
    expectLibraryRestores(handle, frame, input);
    kvnDestroy(handle);
}

TEST(WrtFallback, WithoutTheDecodeKernelTheCpuInverts) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no kernels yet";
    const Bytes text = realFile("/usr/include/stdio.h", 200000);
    inChildProcess(
        [&] {
            setenv("KVN_WRT_DEBUG", "1", 1);
            useModulesWithout("kvnWrtDecodeFusedKernel");
            roundTripInChild(text);
        },
        "fused pipeline missing -> CPU");
}

TEST(WrtFallback, WithoutAnEncodeKernelTheCpuTransforms) {
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no kernels yet";
    const Bytes text = realFile("/usr/include/stdio.h", 200000);
    for (const char* missing : {"kvnWrtCountKernel", "kvnWrtGatherKernel"}) {
        SCOPED_TRACE(missing);
        inChildProcess([&] {
            useModulesWithout(missing);
            roundTripInChild(text);
            EXPECT_EQ(wrtGpuElapsedNs(), 0u) << "the GPU road never ran to its end";
        });
    }
}

}  // namespace
}  // namespace kvn::test
