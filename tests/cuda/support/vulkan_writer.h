// The Vulkan library (loaded from its build, on lavapipe) as the CUDA
// library's decode tests use it: the frames it writes, the statuses its
// decoder gives.
#pragma once

#include <cstdint>
#include <vector>

#include "korvane.h"

namespace kvn::test {

struct VulkanFrames {
    KvnStatus status;
    std::vector<uint8_t> bytes;
};

// Compresses `content` with the Vulkan library under `opts`; a user
// dictionary, when given, is registered first and its id put in the options.
VulkanFrames vulkanCompress(const std::vector<uint8_t>& content, CompressOpts opts,
                            const std::vector<uint8_t>* user_dictionary = nullptr);

// Each part compressed on its own under its options, the frames one after
// the other, with the parts' bytes as the content they decode to; the
// status is the first failure's.
struct FrameSequence {
    KvnStatus status;
    std::vector<uint8_t> frames;
    std::vector<uint8_t> content;
};
struct FramePart {
    std::vector<uint8_t> content;
    CompressOpts opts;
};
FrameSequence vulkanFrameSequence(const std::vector<FramePart>& parts);

// The Vulkan library's kvnDecompressHost of `frames` into `cap` bytes: its
// status and, on success, the decoded bytes (a user dictionary, when given,
// is registered first).
VulkanFrames vulkanDecompress(const std::vector<uint8_t>& frames, uint64_t cap,
                              const std::vector<uint8_t>* user_dictionary = nullptr);
KvnStatus vulkanDecompressStatus(const std::vector<uint8_t>& frames, uint64_t cap);

}  // namespace kvn::test
