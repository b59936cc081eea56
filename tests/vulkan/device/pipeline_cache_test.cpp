#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "vulkan/device/pipeline_cache.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
namespace fs = std::filesystem;

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    return bytes;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

constexpr size_t kLimit = 0x1FFFFFF;  // 32 MiB - 1

TEST(PipelineCache, FileSizesReadAndIgnored) {
    const std::string dir = test::scratchFolder();
    EXPECT_TRUE(readPipelineCacheFile(dir + "/missing.bin").empty());
    EXPECT_TRUE(readPipelineCacheFile(dir).empty());  // a folder is not a file
    const struct {
        size_t size;
        bool read;
    } cases[] = {{0, false}, {1, true}, {4096, true}, {kLimit, true}, {kLimit + 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string path = dir + "/cache.bin";
        const std::vector<uint8_t> bytes = pattern(c.size);
        writeFile(path, bytes);
        const std::vector<uint8_t> got = readPipelineCacheFile(path);
        if (c.read) EXPECT_TRUE(got == bytes);
        else EXPECT_TRUE(got.empty());
    }
    fs::remove_all(dir);
}

TEST(PipelineCache, PathFollowsTheXdgCacheFolder) {
    const struct {
        const char* xdg_cache_home;  // null: unset
        const char* home;
        std::string want;
    } cases[] = {
        {"/var/cache/kvn", "/home/u", "/var/cache/kvn/korvane_vk/pipeline_cache.bin"},
        {nullptr, "/home/u", "/home/u/.cache/korvane_vk/pipeline_cache.bin"},
        {"", "/home/u", "/home/u/.cache/korvane_vk/pipeline_cache.bin"},
        {nullptr, nullptr, ".korvane_vk_pipeline_cache.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.want);
        inChildProcess([&] {
            if (c.xdg_cache_home) setenv("XDG_CACHE_HOME", c.xdg_cache_home, 1);
            else unsetenv("XDG_CACHE_HOME");
            if (c.home) setenv("HOME", c.home, 1);
            else unsetenv("HOME");
            EXPECT_EQ(pipelineCachePath(), c.want);
        });
    }
}

// What vkCreatePipelineCache was given.
struct CacheCalls {
    static inline PFN_vkCreatePipelineCache real = nullptr;
    static inline std::vector<size_t> sizes;
    static VkResult create(VkDevice d, const VkPipelineCacheCreateInfo* i, const VkAllocationCallbacks* a,
                           VkPipelineCache* out) {
        sizes.push_back(i->initialDataSize);
        return real(d, i, a, out);
    }
};

TEST(PipelineCache, DriverGetsTheFileUpToItsLimit) {
    inChildProcess([] {
        const std::string dir = test::scratchFolder();
        setenv("XDG_CACHE_HOME", dir.c_str(), 1);
        const std::string path = dir + "/korvane_vk/pipeline_cache.bin";
        // Garbage a driver must reject harmlessly: the bring-up still succeeds.
        writeFile(path, pattern(4096));
        ASSERT_TRUE(ensureVulkanContext());
        VulkanContext& ctx = vulkanContext();
        EXPECT_NE(ctx.pipeline_cache, nullptr);
        EXPECT_EQ(pipelineCachePath(), path);

        CacheCalls::real = ctx.vk.vkCreatePipelineCache;
        ctx.vk.vkCreatePipelineCache = CacheCalls::create;
        for (const size_t size : {kLimit, kLimit + 1, size_t{0}}) {
            writeFile(path, pattern(size));
            ctx.vk.vkDestroyPipelineCache(ctx.device, ctx.pipeline_cache, nullptr);
            ctx.pipeline_cache = VK_NULL_HANDLE;
            loadPipelineCache(ctx);
            EXPECT_NE(ctx.pipeline_cache, nullptr);
        }
        EXPECT_EQ(CacheCalls::sizes, (std::vector<size_t>{kLimit, 0, 0}));

        // An existing cache is kept.
        loadPipelineCache(ctx);
        EXPECT_EQ(CacheCalls::sizes.size(), 3u);
        fs::remove_all(dir);
    });
}

}  // namespace
}  // namespace kvn
