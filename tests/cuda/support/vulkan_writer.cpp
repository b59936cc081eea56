#include "tests/cuda/support/vulkan_writer.h"

#include <gtest/gtest.h>

#include "core/platform/platform.h"

namespace kvn::test {
namespace {

struct VulkanLibrary {
    decltype(&kvnCreate) create = nullptr;
    decltype(&kvnDestroy) destroy = nullptr;
    decltype(&kvnCompressBound) bound = nullptr;
    decltype(&kvnCompressHost) compress = nullptr;
    decltype(&kvnSetDictionary) set_dictionary = nullptr;
    decltype(&kvnDecompressHost) decompress = nullptr;
};

const VulkanLibrary& vulkanLibrary() {
    static const VulkanLibrary library = [] {
        VulkanLibrary l;
        void* handle = openLibrary(KVN_VK_LIBRARY);
        if (!handle) return l;
        l.create = reinterpret_cast<decltype(&kvnCreate)>(findSymbol(handle, "kvnCreate"));
        l.destroy = reinterpret_cast<decltype(&kvnDestroy)>(findSymbol(handle, "kvnDestroy"));
        l.bound = reinterpret_cast<decltype(&kvnCompressBound)>(findSymbol(handle, "kvnCompressBound"));
        l.compress = reinterpret_cast<decltype(&kvnCompressHost)>(findSymbol(handle, "kvnCompressHost"));
        l.set_dictionary = reinterpret_cast<decltype(&kvnSetDictionary)>(findSymbol(handle, "kvnSetDictionary"));
        l.decompress = reinterpret_cast<decltype(&kvnDecompressHost)>(findSymbol(handle, "kvnDecompressHost"));
        return l;
    }();
    return library;
}

}  // namespace

VulkanFrames vulkanCompress(const std::vector<uint8_t>& content, CompressOpts opts,
                            const std::vector<uint8_t>* user_dictionary) {
    const VulkanLibrary& vk = vulkanLibrary();
    if (!vk.create || !vk.destroy || !vk.bound || !vk.compress || !vk.set_dictionary) {
        ADD_FAILURE() << "the Vulkan library " << KVN_VK_LIBRARY << " cannot be loaded";
        return {KVN_STATUS_DEVICE_CALL_FAILED, {}};
    }
    void* handle = nullptr;
    if (KvnStatus s = vk.create(&handle); s != KVN_STATUS_SUCCESS) return {s, {}};
    VulkanFrames out{KVN_STATUS_SUCCESS, {}};
    if (user_dictionary) {
        out.status = vk.set_dictionary(handle, user_dictionary->data(), user_dictionary->size(), &opts.dict_id);
    }
    uint64_t bound = 0;
    if (out.status == KVN_STATUS_SUCCESS) out.status = vk.bound(handle, content.size(), 0, &bound);
    if (out.status == KVN_STATUS_SUCCESS) {
        out.bytes.resize(bound);
        uint64_t size = 0;
        out.status = vk.compress(handle, content.data(), content.size(), out.bytes.data(), bound, &size, &opts);
        out.bytes.resize(out.status == KVN_STATUS_SUCCESS ? size : 0);
    }
    vk.destroy(handle);
    return out;
}

VulkanFrames vulkanDecompress(const std::vector<uint8_t>& frames, uint64_t cap,
                              const std::vector<uint8_t>* user_dictionary) {
    const VulkanLibrary& vk = vulkanLibrary();
    if (!vk.create || !vk.destroy || !vk.decompress || !vk.set_dictionary) {
        ADD_FAILURE() << "the Vulkan library " << KVN_VK_LIBRARY << " cannot be loaded";
        return {KVN_STATUS_DEVICE_CALL_FAILED, {}};
    }
    void* handle = nullptr;
    if (KvnStatus s = vk.create(&handle); s != KVN_STATUS_SUCCESS) return {s, {}};
    VulkanFrames out{KVN_STATUS_SUCCESS, std::vector<uint8_t>(cap + 1)};
    uint32_t id = 0;
    if (user_dictionary) out.status = vk.set_dictionary(handle, user_dictionary->data(), user_dictionary->size(), &id);
    uint64_t size = 0;
    DecompressOpts opts{};
    if (out.status == KVN_STATUS_SUCCESS)
        out.status = vk.decompress(handle, frames.data(), frames.size(), out.bytes.data(), cap, &size, &opts);
    out.bytes.resize(out.status == KVN_STATUS_SUCCESS ? size : 0);
    vk.destroy(handle);
    return out;
}

KvnStatus vulkanDecompressStatus(const std::vector<uint8_t>& frames, uint64_t cap) {
    return vulkanDecompress(frames, cap).status;
}

FrameSequence vulkanFrameSequence(const std::vector<FramePart>& parts) {
    FrameSequence sequence{KVN_STATUS_SUCCESS, {}, {}};
    for (const FramePart& part : parts) {
        const VulkanFrames frames = vulkanCompress(part.content, part.opts);
        if (frames.status != KVN_STATUS_SUCCESS) return {frames.status, {}, {}};
        sequence.frames.insert(sequence.frames.end(), frames.bytes.begin(), frames.bytes.end());
        sequence.content.insert(sequence.content.end(), part.content.begin(), part.content.end());
    }
    return sequence;
}

}  // namespace kvn::test
