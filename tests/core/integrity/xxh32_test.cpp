#include <gtest/gtest.h>

#include <random>
#include <vector>

#include <xxhash.h>

#include "core/integrity/xxh32.h"
#include "sample_data.h"

namespace kvn {
namespace {

// Every length through the 16-byte stripes and the 4- and 1-byte tails, at
// every alignment, against the reference library.
TEST(Xxh32, MatchesTheReferenceOnEdgeLengths) {
    std::mt19937 rng(7);
    std::vector<uint8_t> bytes(64 + 3);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    for (size_t offset = 0; offset < 4; ++offset) {
        for (size_t len = 0; len + offset <= bytes.size(); ++len) {
            EXPECT_EQ(xxh32(bytes.data() + offset, len), XXH32(bytes.data() + offset, len, 0))
                << "offset " << offset << " length " << len;
        }
    }
    EXPECT_EQ(xxh32(nullptr, 0), 0x02CC5D05u);
}

TEST(Xxh32, MatchesTheReferenceOnLargeInputs) {
    std::vector<uint8_t> text = test::systemHeaderBytes((1 << 20) + 13);
    std::mt19937 rng(11);
    std::vector<uint8_t> noise((3 << 20) + 5);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    for (const auto* data : {&text, &noise}) {
        for (size_t len : {size_t{1} << 20, data->size() - 1, data->size()}) {
            EXPECT_EQ(xxh32(data->data(), len), XXH32(data->data(), len, 0)) << len;
        }
    }
}

}  // namespace
}  // namespace kvn
