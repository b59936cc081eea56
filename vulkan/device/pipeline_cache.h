// The Vulkan pipeline cache, read from a file at bring-up so that a warm
// start skips shader compilation. The library never writes the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvn {

struct VulkanContext;

// Files of 32 MiB or more are not read.
inline constexpr uint64_t kMaxPipelineCacheFileBytes = 0x1FFFFFF;

// $XDG_CACHE_HOME/korvane_vk/pipeline_cache.bin, else
// $HOME/.cache/korvane_vk/pipeline_cache.bin, else a file in the current directory.
std::string pipelineCachePath();

// The whole file when it holds 1 to kMaxPipelineCacheFileBytes bytes and
// can be read; otherwise nothing.
std::vector<uint8_t> readPipelineCacheFile(const std::string& path);

// Creates the context's pipeline cache from the file (or empty); a missing,
// unreadable or rejected file only costs build time.
void loadPipelineCache(VulkanContext& ctx);

}  // namespace kvn
