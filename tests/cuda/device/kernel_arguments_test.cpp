// Kernel arguments in the CUDA form: a launch described as the pipelines
// describe it (buffers with offsets, then words) becomes one argument per
// parameter of the kernel's table, or is refused when it does not fit it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cuda/device/cuda_context.h"
#include "cuda/device/kernel_arguments.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/kernel_call.h"
#include "tests/cuda/stand_in.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct Described {
    std::vector<uint64_t> buffers;
    std::vector<uint64_t> offsets;
    std::vector<uint32_t> words;
};

Error build(const KernelParams& table, uint32_t workgroups, Described& d, CudaArguments* out) {
    std::vector<void*> params;
    for (uint64_t& b : d.buffers) params.push_back(&b);
    for (uint32_t& w : d.words) params.push_back(&w);
    return buildCudaArguments(table, workgroups, params.data(),
                              {uint32_t(d.buffers.size()), uint32_t(d.words.size())}, d.offsets.data(), out);
}

TEST(KernelArguments, BuffersAddressesAndScalarsTakeTheirPlaces) {
    // Interleaved as a CUDA form may be: buffer, scalar, buffer, address, scalar.
    const KernelParams table{"kvnTest", 32, 1, 0, "BSBAS"};
    Described d{{0x1000, 0x2000}, {8, 0}, {7, 0x89ABCDEF, 0x01234567, 9}};
    CudaArguments args;
    ASSERT_EQ(build(table, 5, d, &args), Error::None);
    ASSERT_EQ(args.count, 5u);
    EXPECT_EQ(args.values[0], 0x1008u);
    uint32_t scalar = 0;
    std::memcpy(&scalar, args.pointers[1], 4);
    EXPECT_EQ(scalar, 7u);
    EXPECT_EQ(args.values[2], 0x2000u);
    EXPECT_EQ(args.values[3], 0x0123456789ABCDEFull);
    std::memcpy(&scalar, args.pointers[4], 4);
    EXPECT_EQ(scalar, 9u);
    EXPECT_EQ(args.grid_x, 5u);
    EXPECT_EQ(args.block_x, 32u);
}

TEST(KernelArguments, WarpKernelsCountBlocksNotWarps) {
    const KernelParams table{"kvnTest", 32, 2, kSyncWarps, "B"};
    Described d{{0x1000}, {0}, {}};
    CudaArguments args;
    ASSERT_EQ(build(table, 6, d, &args), Error::None);
    EXPECT_EQ(args.grid_x, 3u);
    EXPECT_EQ(args.block_y, 2u);
    // Half a block is no launch.
    EXPECT_EQ(build(table, 7, d, &args), Error::BadRequest);
}

TEST(KernelArguments, ALaunchThatDoesNotFitTheTableIsRefused) {
    const KernelParams table{"kvnTest", 32, 1, 0, "BBAS"};
    struct Case {
        const char* what;
        Described described;
    };
    const Case cases[] = {
        {"a word short", {{1, 2}, {0, 0}, {1, 2}}},
        {"a word over", {{1, 2}, {0, 0}, {1, 2, 3, 4}}},
        {"a buffer short (a word where a buffer goes)", {{1}, {0}, {1, 2, 3, 4}}},
        {"a buffer over", {{1, 2, 3}, {0, 0, 0}, {1, 2, 3}}},
        {"an offset on no buffer", {{0, 2}, {16, 0}, {1, 2, 3}}},
    };
    for (Case c : cases) {
        CudaArguments args;
        EXPECT_EQ(build(table, 1, c.described, &args), Error::BadRequest) << c.what;
    }
}

// A call given more arguments than it holds never launches (it wrote past
// its arrays before).
TEST(KernelArguments, ACallWithTooManyArgumentsIsRefused) {
    inChildProcess([] {
        ASSERT_TRUE(init());
        const KernelHandle prefix = cudaContext().decode_kernels.prefix_sum_chunks_fn;
        ASSERT_NE(prefix, nullptr);
        DecoderState decoder{};
        const uint64_t before = standInCounts().launches;
        KernelCall words(prefix, 1);
        for (uint32_t i = 0; i < 40; ++i) words.word(i);
        EXPECT_EQ(words.launch(decoder, 0), Error::BadRequest);
        KernelCall buffers(prefix, 1);
        for (uint32_t i = 0; i < 20; ++i) buffers.buffer(0);
        EXPECT_EQ(buffers.launch(decoder, 0), Error::BadRequest);
        EXPECT_EQ(standInCounts().launches, before);
    });
}

// Through the operations table onto the stand-in: the prefix-sum kernel runs
// with its arguments in the CUDA form; the same launch with a word missing
// never reaches the driver.
TEST(KernelArguments, TheStandInRunsALaunchInTheCudaFormAndNeverSeesARefusedOne) {
    inChildProcess([] {
        ASSERT_TRUE(init());
        const GpuOpsTable& ops = gpuOps();
        const KernelHandle prefix = cudaContext().decode_kernels.prefix_sum_chunks_fn;
        ASSERT_NE(prefix, nullptr);
        KvnChunkDesc descs[3]{};
        descs[0].decomp_size = 5;  // stored: one sub-chunk each
        descs[1].decomp_size = 7;
        descs[2].decomp_size = 9;
        uint64_t desc_buf = 0, starts = 0, total = 0;
        ASSERT_EQ(ops.memAlloc(&desc_buf, sizeof descs), Error::None);
        ASSERT_EQ(ops.memAlloc(&starts, 16), Error::None);
        ASSERT_EQ(ops.memAlloc(&total, 4), Error::None);
        ASSERT_EQ(ops.memcpyHtoD(desc_buf, descs, sizeof descs), Error::None);
        DecoderState decoder{};
        const uint64_t before = standInCounts().launches;

        KernelCall call(prefix, 1);
        call.buffer(desc_buf).buffer(starts).buffer(total).word(3).word(0x20000);
        ASSERT_EQ(call.launch(decoder, 0), Error::None);
        ASSERT_EQ(ops.ctxSynchronize(), Error::None);
        uint32_t got_starts[3] = {}, got_total = 0;
        ASSERT_EQ(ops.memcpyDtoH(got_starts, starts, 12), Error::None);
        ASSERT_EQ(ops.memcpyDtoH(&got_total, total, 4), Error::None);
        EXPECT_EQ(got_starts[0], 0u);
        EXPECT_EQ(got_starts[1], 1u);
        EXPECT_EQ(got_starts[2], 2u);
        EXPECT_EQ(got_total, 3u);
        EXPECT_EQ(standInCounts().launches, before + 1);

        KernelCall short_call(prefix, 1);
        short_call.buffer(desc_buf).buffer(starts).buffer(total).word(3);
        EXPECT_EQ(short_call.launch(decoder, 0), Error::BadRequest);
        // A launch without its argument counts is refused as well.
        uint64_t b0 = desc_buf, b1 = starts, b2 = total;
        uint32_t w0 = 3, w1 = 0x20000;
        void* params[] = {&b0, &b1, &b2, &w0, &w1};
        EXPECT_EQ(ops.launchKernel(prefix, 1, 1, 1, 32, 1, 1, 0, 0, params, nullptr, nullptr), Error::BadRequest);
        EXPECT_EQ(standInCounts().launches, before + 1);
    });
}

}  // namespace
}  // namespace kvn::test
