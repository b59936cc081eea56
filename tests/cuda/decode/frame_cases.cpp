#include "tests/cuda/decode/frame_cases.h"

#include <gtest/gtest.h>

#include "core/format/frame_header.h"
#include "tests/cuda/support/vulkan_writer.h"

namespace kvn::test {

void expectTransforms(const Bytes& frames, const CompressOpts& opts) {
    const FrameHeader header = parseFrameHeader(frames.data(), frames.size());
    ASSERT_EQ(header.error, Error::None);
    EXPECT_EQ((header.flags & kFrameWrtSection) != 0, opts.wrt != 0 || opts.level == 6);
    if (opts.byte_plane_stride > 0) EXPECT_EQ(header.byte_plane_stride, opts.byte_plane_stride);
}

void expectRoundTrips(const std::vector<FrameCase>& cases) {
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.name);
        const VulkanFrames frames = vulkanCompress(c.content, c.opts, c.user_dictionary);
        ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
        if (c.check_header) expectTransforms(frames.bytes, c.opts);
        const Decoded d = cudaDecompress(frames.bytes, c.content.size(), c.user_dictionary);
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == c.content);
    }
}

}  // namespace kvn::test
