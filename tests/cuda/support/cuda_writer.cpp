#include "tests/cuda/support/cuda_writer.h"

#include <gtest/gtest.h>

#include "tests/cuda/decode/vulkan_frames.h"

namespace kvn::test {

CudaFrames cudaCompress(const std::vector<uint8_t>& content, CompressOpts opts,
                        const std::vector<uint8_t>* user_dictionary, std::optional<uint64_t> cap) {
    void* handle = nullptr;
    if (KvnStatus s = kvnCreate(&handle); s != KVN_STATUS_SUCCESS) return {s, {}};
    CudaFrames out{KVN_STATUS_SUCCESS, {}};
    if (user_dictionary)
        out.status = kvnSetDictionary(handle, user_dictionary->data(), user_dictionary->size(), &opts.dict_id);
    uint64_t bytes = cap.value_or(0);
    if (out.status == KVN_STATUS_SUCCESS && !cap) out.status = kvnCompressBound(handle, content.size(), 0, &bytes);
    if (out.status == KVN_STATUS_SUCCESS) {
        // One byte more than the capacity, which the call must leave alone.
        out.bytes.assign(bytes + 1, 0xA5);
        uint64_t size = 0;
        out.status = kvnCompressHost(handle, content.data(), content.size(), out.bytes.data(), bytes, &size, &opts);
        if (out.bytes[bytes] != 0xA5) ADD_FAILURE() << "the compress call wrote past its capacity";
        out.bytes.resize(out.status == KVN_STATUS_SUCCESS ? size : 0);
    }
    kvnDestroy(handle);
    return out;
}

void expectVulkanFrames(const std::vector<uint8_t>& content, const CompressOpts& opts, const CudaFrames& frames,
                        const std::vector<uint8_t>* user_dictionary) {
    ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
    const Decoded on_cuda = cudaDecompress(frames.bytes, content.size(), user_dictionary);
    EXPECT_EQ(on_cuda.status, KVN_STATUS_SUCCESS);
    EXPECT_TRUE(on_cuda.bytes == content);
    const VulkanFrames on_vulkan = vulkanDecompress(frames.bytes, content.size(), user_dictionary);
    EXPECT_EQ(on_vulkan.status, KVN_STATUS_SUCCESS);
    EXPECT_TRUE(on_vulkan.bytes == content);
    const VulkanFrames vulkan_frames = vulkanCompress(content, opts, user_dictionary);
    ASSERT_EQ(vulkan_frames.status, KVN_STATUS_SUCCESS);
    EXPECT_TRUE(vulkan_frames.bytes == frames.bytes);
}

}  // namespace kvn::test
