// Creating handles on the real device layer (lavapipe, with this program's
// stand-in kernels), and the answers of the Vulkan family.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/format/compress_bound.h"
#include "family_test_support.h"
#include "vulkan/device/test_support.h"

namespace kvn::test {
namespace {

TEST(CreateOnDevice, BothShapesAfterABringUp) {
    inChildProcess([] {
        void* h = nullptr;
        void* vk = nullptr;
        ASSERT_EQ(kvnCreate(&h), 0u);
        ASSERT_EQ(kvnCreate_vk(&vk), 0u);
        EXPECT_NE(h, vk);
        EXPECT_EQ(static_cast<KvnHandle*>(h)->shape, HandleShape::Interface);
        EXPECT_EQ(static_cast<KvnHandle*>(vk)->shape, HandleShape::VulkanFamily);

        char name[8] = {};
        EXPECT_EQ(kvnVkBoundDeviceName(name, 4), 4u);
        EXPECT_EQ(std::string(name), "llvm");
        char full[300] = {};
        const uint64_t n = kvnVkBoundDeviceName(full, sizeof full);
        EXPECT_EQ(n, std::string(full).size());
        EXPECT_EQ(std::string(full).rfind("llvmpipe", 0), 0u) << full;

        // Before any job, no verdict and no timings.
        EXPECT_EQ(kvnGetLastVerdict_vk(vk), 5u);
        EXPECT_EQ(kvnGetLastTimings_vk(vk, nullptr, 0), 0u);
        EXPECT_EQ(kvnDestroy(h), 0u);
        kvnDestroy_vk(vk);
    });
}

TEST(CreateOnDevice, AFailedBringUpFailsEveryCreate) {
    inChildProcess([] {
        setenv("KVN_NO_VK", "1", 1);
        testing::internal::CaptureStderr();
        void* h = nullptr;
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(kvnCreate(&h), 6u) << round;
            EXPECT_EQ(kvnCreate_vk(&h), 9u) << round;
        }
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(h, nullptr);
        char name[8] = {'x'};
        EXPECT_EQ(kvnVkBoundDeviceName(name, sizeof name), 0u) << "no device was chosen";
        EXPECT_EQ(kvnCreate(nullptr), 2u);
        EXPECT_EQ(kvnCreate_vk(nullptr), 2u);
    });
}

TEST(CreateOnDevice, DeviceMemoryRoundTrip) {
    inChildProcess([] {
        void* h = nullptr;
        ASSERT_EQ(kvnCreate_vk(&h), 0u);
        std::vector<uint8_t> sent(1000), back(1001, 0);
        for (size_t i = 0; i < sent.size(); ++i) sent[i] = uint8_t(i * 7 + 3);
        uint64_t buf = 0;
        ASSERT_EQ(kvnVkDeviceAlloc(h, 1000, &buf), 0u);
        ASSERT_NE(buf, 0u);
        ASSERT_EQ(kvnVkH2D(h, buf, sent.data(), 1000), 0u);
        ASSERT_EQ(kvnVkD2H(h, back.data(), buf, 1000), 0u);
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), back.begin()));
        // Past the end of the buffer, in either direction.
        EXPECT_EQ(kvnVkH2D(h, buf, sent.data(), 1001), 2u);
        EXPECT_EQ(kvnVkD2H(h, back.data(), buf, 1001), 2u);
        EXPECT_EQ(kvnVkDeviceFree(h, buf), 0u);
        EXPECT_EQ(kvnVkD2H(h, back.data(), buf, 4), 6u) << "a freed buffer";
        kvnDestroy_vk(h);
    });
}

TEST(VulkanFamilyAnswers, WithoutADevice) {
    EXPECT_STREQ(kvnGetVersionString_vk(), "3.3.0+vk");
    EXPECT_STREQ(kvnVersionString(), "3.3.0");
    for (uint64_t n : {uint64_t{0}, uint64_t{1}, uint64_t{65536}, ~uint64_t{0}})
        EXPECT_EQ(kvnCompressBound_vk(n), compressBound(n));
    EXPECT_EQ(kvnGetLastTimings_vk(nullptr, nullptr, 0), 0u);
    EXPECT_EQ(kvnGetLastVerdict_vk(nullptr), 1u);
    char name[4] = {};
    EXPECT_EQ(kvnVkBoundDeviceName(nullptr, 4), 0u);
    EXPECT_EQ(kvnVkBoundDeviceName(name, 0), 0u);
}

using VulkanFamilyTimings = FamilyTest;

TEST_F(VulkanFamilyTimings, CopyEncoderEntriesFirstAndReturnTheTotal) {
    void* h = makeFamilyHandle();
    KvnHandle& state = *static_cast<KvnHandle*>(h);
    ASSERT_TRUE(state.encoder.timings.push({"encode", 1.5f, 0}));
    ASSERT_TRUE(state.decoder.timings.push({"decode a", 2.5f, 0}));
    ASSERT_TRUE(state.decoder.timings.push({"decode b", 3.5f, 0}));
    EXPECT_EQ(kvnGetLastTimings_vk(h, nullptr, 0), 3u);
    TimingEntry buf[3] = {};
    EXPECT_EQ(kvnGetLastTimings_vk(h, buf, 2), 3u);
    EXPECT_STREQ(buf[0].label, "encode");
    EXPECT_EQ(buf[0].milliseconds, 1.5f);
    EXPECT_STREQ(buf[1].label, "decode a");
    EXPECT_EQ(buf[2].label, nullptr);
    // The common-family answers accept either shape.
    uint64_t count = 0;
    EXPECT_EQ(kvnGetLastTimings(h, nullptr, 0, &count), 0u);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(kvnGetLastVerdict(h), 5u);
}

}  // namespace
}  // namespace kvn::test
