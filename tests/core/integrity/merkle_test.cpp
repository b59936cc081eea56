#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <xxhash.h>

#include "core/integrity/merkle.h"
#include "core/platform/platform.h"
#include "sample_data.h"

namespace kvn {
namespace {

using Bytes = std::vector<uint8_t>;

// The root written out word by word from its definition, hashed with the
// reference XXH32.
uint32_t referenceRoot(const Bytes& data, uint64_t leaf_size) {
    std::vector<uint32_t> leaves;
    for (uint64_t begin = 0; begin < data.size(); begin += leaf_size) {
        const uint64_t end = std::min<uint64_t>(begin + leaf_size, data.size());
        uint32_t leaf = 0;
        for (uint64_t o = begin; o + 4 <= end; o += 4) {
            uint32_t w;
            std::memcpy(&w, data.data() + o, 4);
            leaf += (static_cast<uint32_t>(o) + 0x9E3779B1u) * w;
        }
        leaves.push_back(leaf);
    }
    return XXH32(leaves.data(), leaves.size() * 4, 0);
}

TEST(MerkleRoot, SmallDefinitions) {
    EXPECT_EQ(chunkMerkleRoot(nullptr, 0, 65536).root, 0x02CC5D05u);
    EXPECT_EQ(chunkMerkleRoot(nullptr, 0, 65536).error, Error::None);

    const Bytes three = {1, 2, 3};  // shorter than a word: leaf 0
    const uint8_t zero_leaf[4] = {};
    EXPECT_EQ(chunkMerkleRoot(three.data(), 3, 65536).root, XXH32(zero_leaf, 4, 0));

    const Bytes words = {1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(chunkMerkleLeaf(words.data(), 0, 8), 0x9E3779B1u);
    // The multiplier is the absolute offset: the same word at offset 4 of a second chunk.
    const Bytes shifted = {0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(chunkMerkleLeaf(shifted.data(), 4, 8), 0x9E3779B1u + 4);
}

TEST(MerkleRoot, MatchesTheDefinition) {
    const Bytes data = test::systemHeaderBytes(300001);
    // Leaf sizes that leave chunks unaligned, tails of 1 to 3 bytes, a single
    // chunk, and leaf loops with and without their eight-word steps.
    for (uint64_t leaf_size : {1, 3, 4, 7, 31, 33, 4096, 65536, 65537, 262144, 300001, 1 << 20}) {
        for (uint64_t n : {uint64_t{300001}, uint64_t{299999}, uint64_t{65}}) {
            const Bytes prefix(data.begin(), data.begin() + n);
            const MerkleRoot got = chunkMerkleRoot(prefix.data(), n, leaf_size);
            EXPECT_EQ(got.error, Error::None);
            EXPECT_EQ(got.root, referenceRoot(prefix, leaf_size)) << "leaf " << leaf_size << " n " << n;
        }
    }
}

TEST(MerkleRoot, SameRootOnAnyLaneCount) {
    const Bytes data = test::systemHeaderBytes(1 << 20);
    const uint32_t want = referenceRoot(data, 65536);
    for (uint32_t processors : {1u, 2u, 3u, 16u, 64u}) {
        const MerkleRoot got = chunkMerkleRoot(data.data(), data.size(), 65536, processors);
        EXPECT_EQ(got.error, Error::None);
        EXPECT_EQ(got.root, want) << processors << " processors";
    }
    EXPECT_EQ(chunkMerkleRoot(data.data(), data.size(), 65536).root, want);
}

TEST(MerkleRoot, LaneThatFailsToStartRunsInline) {
    const Bytes data = test::systemHeaderBytes(1 << 20);  // 16 chunks: 16 lanes
    const uint32_t want = referenceRoot(data, 65536);
    for (int lane : {0, 5, 15}) {
        injectThreadStartFailure(lane);
        testing::internal::CaptureStderr();
        const MerkleRoot got = chunkMerkleRoot(data.data(), data.size(), 65536, 16);
        const std::string err = testing::internal::GetCapturedStderr();
        injectThreadStartFailure(-1);
        EXPECT_EQ(got.root, want) << "lane " << lane;
        EXPECT_EQ(err, "warning: chunkMerkleRoot: thread spawn failed at lane " + std::to_string(lane) +
                           "/16 (Unexpected); running remaining lanes inline\n");
    }
}

TEST(MerkleRoot, ZeroLeafSizeIsRefused) {
    const Bytes data(16, 1);
    EXPECT_EQ(chunkMerkleRoot(data.data(), data.size(), 0).error, Error::BadScGroupSize);
}

}  // namespace
}  // namespace kvn
