// The byte-plane kernels on both backends: the forward kernel against the
// reference layout, the inverse kernel against the decoder's CPU
// inverse, and the two as a round trip; short and ragged blocks stay as they
// are, and no thread writes past the input's length.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pipeline/decode/byte_plane_inverse.h"
#include "reference/ref_byte_plane.h"
#include "tests/core/integrity/sample_data.h"
#include "tests/kernels/decode/decode_kernel_test.h"

namespace kvn::test {
namespace {

struct PlaneCase {
    const char* name;
    uint32_t n;
    uint32_t w;
    uint32_t block;  // 0: the whole input is one block
};

// One block; blocks of a chunk each; a block size the stride does not divide
// (the caller passes 0 then: the whole input); a ragged last block; a block
// shorter than the stride; an input not a multiple of the stride.
const PlaneCase kPlaneCases[] = {
    {"one_block_w4", 4096, 4, 0},          {"chunks_w4", 3 * 65536, 4, 65536},
    {"whole_w3", 3 * 65536, 3, 0},         {"ragged_last_w8", 65536 + 1000, 8, 65536},
    {"last_shorter_than_w", 1024 + 10, 32, 1024}, {"not_multiple_w4", 1001, 4, 0},
    {"w32_many", 1 << 18, 32, 1 << 16},    {"w2_small", 256, 2, 0},
};

class BytePlaneKernels : public DecodeKernelTest {
protected:
    std::vector<uint8_t> run(const char* kernel, const std::vector<uint8_t>& in, uint32_t w, uint32_t block) {
        const uint32_t n = uint32_t(in.size());
        const uint32_t source = rig_.buffer(in);
        const uint32_t out = guarded(n);
        launch(kernel, {(n + 255) / 256}, {rigBuffer(source), rigBuffer(out), rigU32(n), rigU32(w), rigU32(block)});
        expectGuardFrom(out, n);
        return readWords<uint8_t>(out, n);
    }
};

TEST_P(BytePlaneKernels, TwelveBytesAtStrideFour) {
    const std::vector<uint8_t> elements = {0x00, 0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22, 0x23};
    const std::vector<uint8_t> planes = {0x00, 0x10, 0x20, 0x01, 0x11, 0x21, 0x02, 0x12, 0x22, 0x03, 0x13, 0x23};
    EXPECT_EQ(run("kvnBytePlaneDeinterleaveKernel", elements, 4, 0), planes);
    EXPECT_EQ(run("kvnBytePlaneInterleaveKernel", planes, 4, 0), elements);
}

TEST_P(BytePlaneKernels, TenByteBlockAtStrideFourIsLeftAsItIs) {
    const std::vector<uint8_t> bytes = systemHeaderBytes(10);
    EXPECT_EQ(run("kvnBytePlaneDeinterleaveKernel", bytes, 4, 0), bytes);
    EXPECT_EQ(run("kvnBytePlaneInterleaveKernel", bytes, 4, 0), bytes);
}

TEST_P(BytePlaneKernels, ForwardIsTheLayoutAndInverseUndoesIt) {
    for (const PlaneCase& c : kPlaneCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> input = systemHeaderBytes(c.n);
        const std::vector<uint8_t> planes = run("kvnBytePlaneDeinterleaveKernel", input, c.w, c.block);
        EXPECT_EQ(planes, ref::bytePlanes(input, uint8_t(c.w), c.block));
        // The decoder's CPU inverse reads what the kernel wrote...
        std::vector<uint8_t> cpu = planes;
        ASSERT_EQ(bytePlaneInverseCpu(cpu.data(), cpu.size(), uint8_t(c.w), c.block), Error::None);
        EXPECT_EQ(cpu, input);
        // ...and so does the inverse kernel.
        EXPECT_EQ(run("kvnBytePlaneInterleaveKernel", planes, c.w, c.block), input);
    }
}

KVN_ON_BOTH_BACKENDS(BytePlaneKernels);

}  // namespace
}  // namespace kvn::test
