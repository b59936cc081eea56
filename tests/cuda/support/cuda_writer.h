// The CUDA library's compress call as the encode tests use it: a handle of
// its own, a destination of the compress bound (or of a given capacity).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "korvane.h"
#include "tests/cuda/support/vulkan_writer.h"

namespace kvn::test {

// The status and, on success, the frames.
using CudaFrames = VulkanFrames;

// kvnCompressHost of the CUDA library under `opts` into `cap` bytes (the
// compress bound when none is given); a user dictionary, when given, is
// registered first and its id put in the options.
CudaFrames cudaCompress(const std::vector<uint8_t>& content, CompressOpts opts,
                        const std::vector<uint8_t>* user_dictionary = nullptr,
                        std::optional<uint64_t> cap = std::nullopt);

// The frames decode to `content` on both libraries (a wrong trailer fails
// the decode) and equal the Vulkan library's frames of it under `opts`.
void expectVulkanFrames(const std::vector<uint8_t>& content, const CompressOpts& opts, const CudaFrames& frames,
                        const std::vector<uint8_t>* user_dictionary = nullptr);

}  // namespace kvn::test
