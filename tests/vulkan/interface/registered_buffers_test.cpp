// Buffers registered with a Vulkan-family handle.
#include <gtest/gtest.h>

#include "family_test_support.h"

namespace kvn::test {
namespace {

using RegisteredBuffersTest = FamilyTest;

std::vector<uint64_t> keys(const VulkanFamilyHandle& h) {
    std::vector<uint64_t> out;
    for (uint32_t i = 0; i < h.registered_count; ++i) out.push_back(h.registered[i].key);
    return out;
}

TEST_F(RegisteredBuffersTest, RegisterChecksInOrder) {
    void* h = makeFamilyHandle();
    void* other = makeInterfaceHandle();
    EXPECT_EQ(kvnRegisterBuffer_vk(nullptr, 0, 0, 0), 1u);
    EXPECT_EQ(kvnRegisterBuffer_vk(other, 0, 5, 1), 2u);
    EXPECT_EQ(kvnRegisterBuffer_vk(h, 0, 5, 0), 2u) << "aux1 0";
    EXPECT_EQ(kvnRegisterBuffer_vk(h, 0, 0, 1), 2u) << "key 0";
    for (uint64_t key = 1; key <= 16; ++key) ASSERT_EQ(kvnRegisterBuffer_vk(h, key * 10, key, key * 100), 0u);
    EXPECT_EQ(kvnRegisterBuffer_vk(h, 0, 17, 1), 7u) << "full";
    EXPECT_EQ(kvnRegisterBuffer_vk(h, 0, 0, 1), 7u) << "full comes before the key check";
    EXPECT_EQ(kvnRegisterBuffer_vk(h, 0, 17, 0), 2u) << "aux1 comes before everything";
    EXPECT_EQ(family(h).registered_count, 16u);
    EXPECT_EQ(family(h).registered[3].aux0, 40u);
    EXPECT_EQ(family(h).registered[3].aux1, 400u);
}

TEST_F(RegisteredBuffersTest, UnregisterMovesTheLastEntryIntoTheGap) {
    void* h = makeFamilyHandle();
    for (uint64_t key : {7, 8, 9}) ASSERT_EQ(kvnRegisterBuffer_vk(h, 0, key, 1), 0u);
    ASSERT_EQ(kvnUnregisterBuffer_vk(h, 7), 0u);
    EXPECT_EQ(keys(family(h)), (std::vector<uint64_t>{9, 8}));
    EXPECT_EQ(family(h).registered[2].key, 0u) << "the old last slot is zeroed";
    EXPECT_EQ(kvnUnregisterBuffer_vk(h, 0), 0u);
    EXPECT_EQ(kvnUnregisterBuffer_vk(h, 1234), 0u);
    EXPECT_EQ(keys(family(h)), (std::vector<uint64_t>{9, 8}));
    EXPECT_EQ(kvnUnregisterBuffer_vk(nullptr, 9), 1u);
    EXPECT_EQ(kvnUnregisterBuffer_vk(makeInterfaceHandle(), 9), 2u);
}

TEST_F(RegisteredBuffersTest, AKeyRegisteredTwiceIsRemovedOneEntryAtATime) {
    void* h = makeFamilyHandle();
    ASSERT_EQ(kvnRegisterBuffer_vk(h, 1, 5, 1), 0u);
    ASSERT_EQ(kvnRegisterBuffer_vk(h, 2, 6, 1), 0u);
    ASSERT_EQ(kvnRegisterBuffer_vk(h, 3, 5, 1), 0u);
    ASSERT_EQ(kvnUnregisterBuffer_vk(h, 5), 0u);
    EXPECT_EQ(keys(family(h)), (std::vector<uint64_t>{5, 6}));
    EXPECT_EQ(family(h).registered[0].aux0, 3u) << "the first match went";
    EXPECT_TRUE(isRegisteredBuffer(family(h), 5));
    ASSERT_EQ(kvnUnregisterBuffer_vk(h, 5), 0u);
    EXPECT_FALSE(isRegisteredBuffer(family(h), 5));
    EXPECT_FALSE(isRegisteredBuffer(family(h), 0));
}

}  // namespace
}  // namespace kvn::test
