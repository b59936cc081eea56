// Builds of the device without some decode kernels: a frame that needs a
// missing stage fails as a device failure instead of decoding wrongly.
#include <gtest/gtest.h>

#include <string_view>

#include "decode_test_support.h"
#include "reference/reference_codec.h"

namespace kvn::test {
namespace {

// Level 3 and up: the streams are Huffman-coded, and the raw LZ kernel would
// read them as they are.
TEST(MissingKernels, HuffmanStageAtLevelThreeIsAFailure) {
    for (std::string_view missing : {"kvnHuffBuildLutKernel", "kvnHuffDecode4StreamKernel"}) {
        inChildProcess([missing] {
            useModulesWithout({missing});
            readyOps();
            ChildHandle handle;
            const std::vector<uint8_t> text = realBytes(100000);
            const std::vector<uint8_t> frame = ref::compressFrame(text, ref::encodeOptionsForLevel(3, 0.25f), {});
            ASSERT_GE(frame[7], 3) << "the header's level code";
            const Decoded d = decodeHost(handle.get(), frame, text.size());
            EXPECT_EQ(d.status, KVN_STATUS_DEVICE_CALL_FAILED) << missing;
            EXPECT_TRUE(d.guard_intact);
        });
    }
}

}  // namespace
}  // namespace kvn::test
