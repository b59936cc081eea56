#include "vulkan/device/pipeline_cache.h"

#include <cstdio>
#include <new>

#include "core/platform/platform.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

std::string pipelineCachePath() {
    static const std::string path = [] {
        const char* cache_home = envText("XDG_CACHE_HOME");
        if (cache_home && *cache_home) return std::string(cache_home) + "/korvane_vk/pipeline_cache.bin";
        const char* home = envText("HOME");
        if (home && *home) return std::string(home) + "/.cache/korvane_vk/pipeline_cache.bin";
        return std::string(".korvane_vk_pipeline_cache.bin");
    }();
    return path;
}

std::vector<uint8_t> readPipelineCacheFile(const std::string& path) {
    std::vector<uint8_t> data;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return data;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size >= 1 && static_cast<uint64_t>(size) <= kMaxPipelineCacheFileBytes && std::fseek(file, 0, SEEK_SET) == 0) {
        try {
            data.resize(static_cast<size_t>(size));
            if (std::fread(data.data(), 1, data.size(), file) != data.size()) data.clear();
        } catch (const std::bad_alloc&) {
            data.clear();
        }
    }
    std::fclose(file);
    return data;
}

void loadPipelineCache(VulkanContext& ctx) {
    if (ctx.pipeline_cache || !ctx.vk.vkCreatePipelineCache) return;
    std::vector<uint8_t> data = readPipelineCacheFile(pipelineCachePath());
    VkPipelineCacheCreateInfo info{VK_STRUCTURE_TYPE_PIPELINE_CACHE_CREATE_INFO};
    info.initialDataSize = data.size();
    info.pInitialData = data.empty() ? nullptr : data.data();
    if (ctx.vk.vkCreatePipelineCache(ctx.device, &info, nullptr, &ctx.pipeline_cache) != VK_SUCCESS)
        ctx.pipeline_cache = VK_NULL_HANDLE;
}

}  // namespace kvn
