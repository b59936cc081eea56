// Level-3 batches whose decoded streams go in windows (KVN_BATCH_CAP below
// their sub-chunks) on lavapipe: on the device-input road for one frame and
// for two frames through one walk, and on the host road. Every sub-chunk of
// these frames has its four streams Huffman-coded, which windows need; the
// bytes equal the reference decoder's, windowed or whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "pipeline/decode/batch_windows.h"
#include "pipeline/device/backend_hooks.h"
#include "tests/cuda/decode/hand_frames.h"
#include "tests/pipeline/decode/vulkan_road.h"
#include "tests/reference/ref_decoder.h"
#include "tests/support/device_decode_suite.h"

namespace kvn::test {
namespace {

struct WindowCase {
    const char* name;
    uint32_t frames;  // of 600 / frames chunks each
    bool device_road;
    const char* cap;    // KVN_BATCH_CAP, or null
    const char* trace;  // what the trace says of the windows, or null for no windows
};

const WindowCase kWindowCases[] = {
    {"one_frame_whole", 1, true, nullptr, nullptr},
    {"one_frame_windows", 1, true, "256",
     "batched=true counts=\\{ 600, 600, 600, 600 \\} windows=3 [^\\n]*\\n"
     "(.|\\n)*first_chunk=512 n_chunks=88 sub_start=512 n_subs=88 window=0"},
    {"two_frames_one_walk_windows", 2, true, "300",
     "batched=true counts=\\{ 600, 600, 600, 600 \\} windows=2 [^\\n]*\\n"
     "(.|\\n)*first_chunk=300 n_chunks=300 sub_start=300 n_subs=300 window=1"},
    {"host_road_windows", 1, false, "256", "batched=true[^\\n]*windows=3 "},
};

TEST(DeviceWindows, WindowedAndWholeBatchesGiveTheReferenceBytes) {
    onVulkanRoad([](DeviceRoad& road) {
        for (const WindowCase& c : kWindowCases) {
            SCOPED_TRACE(c.name);
            Bytes src, expected;
            for (uint32_t f = 0; f < c.frames; ++f) {
                const Bytes frame = fourHuffmanStreamsFrame(600 / c.frames, f + 1);
                const ref::DecodedFrame decoded = ref::decodeFrame(frame, {});
                ASSERT_EQ(decoded.error, Error::None);
                src.insert(src.end(), frame.begin(), frame.end());
                expected.insert(expected.end(), decoded.bytes.begin(), decoded.bytes.end());
            }
            const uint64_t cap = 600 * kHuffmanChunk;
            if (c.cap) setenv("KVN_BATCH_CAP", c.cap, 1);
            setenv("KVN_ALLOC_TRACE", "", 1);
            ::testing::internal::CaptureStderr();
            const Bytes bytes =
                c.device_road ? road.decode(src, cap, true).bytes : device_suite::hostDecode(src, cap);
            const std::string trace = ::testing::internal::GetCapturedStderr();
            unsetenv("KVN_ALLOC_TRACE");
            unsetenv("KVN_BATCH_CAP");
            EXPECT_TRUE(bytes == expected);
            if (c.device_road) EXPECT_EQ(road.timed("kvnMegaWalkKernel"), c.frames > 1);
            const std::regex windows(c.trace ? c.trace : "\\[dispatch-trace\\]");
            EXPECT_EQ(std::regex_search(trace, windows), c.trace != nullptr) << trace;
        }
    });
}

// The cap: batches of at most 256 sub-chunks run whole; KVN_BATCH_CAP sets
// it (256 at least); and a batch whose scratch regions one binding cannot
// hold goes in windows of what a binding holds with full slots, whatever the
// variable asks.
TEST(DeviceWindows, TheCapKeepsEachRegionWithinOneBinding) {
    inChildProcess([] {
        readyOps();
        const uint64_t limit = deviceBindingLimit();
        const uint64_t held = limit / kSubchunkScratchBytes;
        const uint64_t n = held + 1000;
        struct Case {
            const char* name;
            uint64_t subchunks;
            uint64_t region;
            const char* cap;
            uint64_t expected;
        };
        const Case cases[] = {
            {"few_sub_chunks", 256, limit + 1, "100", 256},
            {"within_the_binding", n, limit, nullptr, n},
            {"beyond_the_binding", n, limit + 1, nullptr, held},
            {"variable_below_the_floor", n, limit, "100", 256},
            {"variable_within_the_binding", n, limit + 1, "300", 300},
            {"variable_beyond_the_binding", n, limit + 1, "100000", held},
            {"variable_unparsable", n, limit, "12a", 256},
        };
        for (const Case& c : cases) {
            if (c.cap) setenv("KVN_BATCH_CAP", c.cap, 1);
            EXPECT_EQ(batchWindowCap(c.subchunks, c.region), c.expected) << c.name;
            unsetenv("KVN_BATCH_CAP");
        }
    });
}

}  // namespace
}  // namespace kvn::test
