#include <gtest/gtest.h>

#include <vector>

#include "vulkan/device/device_choice.h"

namespace kvn {
namespace {

constexpr auto kDiscrete = VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU;
constexpr auto kIntegrated = VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU;
constexpr auto kVirtual = VK_PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU;
constexpr auto kCpu = VK_PHYSICAL_DEVICE_TYPE_CPU;
constexpr auto kOther = VK_PHYSICAL_DEVICE_TYPE_OTHER;

DeviceCandidate gpu(VkPhysicalDeviceType type, bool compute = true, bool known = true) {
    return {compute, known, type};
}

TEST(DeviceChoice, Table) {
    const struct {
        const char* what;
        std::vector<DeviceCandidate> devices;
        std::optional<uint32_t> forced;
        std::optional<uint32_t> want;
    } cases[] = {
        {"lavapipe alone", {gpu(kCpu)}, std::nullopt, 0},
        {"discrete beats integrated", {gpu(kIntegrated), gpu(kDiscrete)}, std::nullopt, 1},
        {"integrated beats virtual and cpu", {gpu(kCpu), gpu(kVirtual), gpu(kIntegrated)}, std::nullopt, 2},
        {"virtual beats cpu", {gpu(kCpu), gpu(kVirtual)}, std::nullopt, 1},
        {"cpu beats other", {gpu(kOther), gpu(kCpu)}, std::nullopt, 1},
        {"other is still a device", {gpu(kOther)}, std::nullopt, 0},
        {"first of a tie", {gpu(kDiscrete), gpu(kDiscrete)}, std::nullopt, 0},
        {"no compute family is skipped", {gpu(kDiscrete, false), gpu(kCpu)}, std::nullopt, 1},
        {"unreadable properties are not scored", {gpu(kDiscrete, true, false), gpu(kCpu)}, std::nullopt, 1},
        {"nothing usable", {gpu(kDiscrete, false), gpu(kCpu, true, false)}, std::nullopt, std::nullopt},
        {"no devices", {}, std::nullopt, std::nullopt},
        {"forced index wins over the score", {gpu(kDiscrete), gpu(kCpu)}, 1, 1},
        {"forced index without compute: no fallback", {gpu(kDiscrete), gpu(kCpu, false)}, 1, std::nullopt},
        {"forced index beyond the count: no fallback", {gpu(kDiscrete)}, 1, std::nullopt},
        {"forced index ignores unreadable properties", {gpu(kCpu, true, false)}, 0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(chooseDeviceIndex(c.devices, c.forced), c.want) << c.what;
}

}  // namespace
}  // namespace kvn
