// Builds of the device without some decode kernels: a frame that needs a
// missing stage fails as a device failure instead of decoding wrongly.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "decode_test_support.h"
#include "kernels/embedded_modules.h"
#include "reference/reference_codec.h"
#include "vulkan/device/kernel_table.h"

namespace kvn::test {
namespace {

// Before the bring-up: the program's modules less those named.
void useModulesWithout(std::initializer_list<std::string_view> left_out) {
    static std::vector<EmbeddedModule> modules;
    modules.clear();
    for (const EmbeddedModule& m : embeddedModules()) {
        bool keep = true;
        for (std::string_view name : left_out) keep = keep && name != m.name;
        if (keep) modules.push_back(m);
    }
    useKernelModules(modules);
}

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
            const Decoded d = decodeHost(handle.get(), frame, text.size() + kOutputSlack);
            EXPECT_EQ(d.status, KVN_STATUS_DEVICE_CALL_FAILED) << missing;
            EXPECT_TRUE(d.guard_intact);
        });
    }
}

}  // namespace
}  // namespace kvn::test
