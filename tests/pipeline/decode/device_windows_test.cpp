// Level-3 batches whose decoded streams go in windows on lavapipe: the
// device-road suite's windows, and the cap that keeps each scratch region
// within one binding.
#include <gtest/gtest.h>

#include <cstdlib>

#include "pipeline/decode/batch_windows.h"
#include "pipeline/device/backend_hooks.h"
#include "tests/pipeline/decode/vulkan_road.h"
#include "tests/support/device_decode_suite.h"

namespace kvn::test {
namespace {

TEST(DeviceWindows, WindowedAndWholeBatchesGiveTheReferenceBytes) {
    onVulkanRoad(device_suite::expectWindowedAndWholeBatchesGiveTheReferenceBytes);
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
