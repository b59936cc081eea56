// Levels 5 and 6 on CUDA: the sort-parse road (a frame of single-sub-chunk
// groups), the chain parse (a dictionary, or KVN_NO_SORT_PARSE), and the
// word-replacement transform on the device; each frame decodes on both
// libraries and equals the Vulkan library's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct HighLevelCase {
    std::string name;
    CompressOpts opts;
    const char* no_sort_parse;  // KVN_NO_SORT_PARSE, or null
    const char* kernel;         // the kernel the road must have launched
    size_t bytes;               // the transform needs 64 KiB at least
};

CompressOpts levelWith(int level, float fraction, uint32_t dict_id) {
    return withDictionary(withChunkSize(optionsAt(level), fraction), dict_id);
}

TEST(CudaHighLevels, SortParseChainAndWordTransform) {
    const std::vector<HighLevelCase> cases = {
        {"level 5, sort-parse", levelWith(5, 0.0625f, 0), nullptr, "kvnLzEncodeSortParseKernel", 40000},
        {"level 5, chain parse", levelWith(5, 0.0625f, 0), "1", "kvnLzEncodeChainKernel", 40000},
        {"level 5, dictionary", levelWith(5, 0.0625f, 1), nullptr, "kvnLzEncodeChainKernel", 40000},
        {"level 6", levelWith(6, 0.0625f, 0), nullptr, "kvnWrtEncodeKernel", 70000},
    };
    for (const HighLevelCase& c : cases) {
        SCOPED_TRACE(c.name);
        inChildProcess([&] {
            const Bytes text = repetitiveText(c.bytes, 23);
            if (c.no_sort_parse) setenv("KVN_NO_SORT_PARSE", c.no_sort_parse, 1);
            const CudaFrames frames = cudaCompress(text, c.opts);
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            EXPECT_GE(lastLaunch(c.kernel).count, 1u);
            expectVulkanFrames(text, c.opts, frames);
        });
    }
}

}  // namespace
}  // namespace kvn::test
