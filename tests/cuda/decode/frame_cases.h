// Tables of decode cases: the Vulkan library writes each content's frames
// under its options, and the CUDA library must decode them to the content.
#pragma once

#include <string>
#include <vector>

#include "tests/cuda/decode/vulkan_frames.h"

namespace kvn::test {

struct FrameCase {
    std::string name;
    Bytes content;
    CompressOpts opts;
    const Bytes* user_dictionary = nullptr;  // registered on both sides first
    // The first frame carries the word transform and the explicit stride the
    // options ask for; false where the encoder may leave out one that does not pay.
    bool check_header = true;
};

void expectTransforms(const Bytes& frames, const CompressOpts& opts);

void expectRoundTrips(const std::vector<FrameCase>& cases);

}  // namespace kvn::test
