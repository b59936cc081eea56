#include "vulkan/device/spirv_patch.h"

#include <new>

namespace kvn {

namespace {

constexpr uint32_t kOpCapability = 17;
constexpr uint32_t kCapabilityInt8 = 39;
constexpr uint32_t kCapabilityStorageBuffer8BitAccess = 4448;
constexpr uint32_t kCapabilityUniformAndStorageBuffer8BitAccess = 4449;
constexpr uint32_t kCapabilityStoragePushConstant8 = 4450;
constexpr size_t kHeaderWords = 5;
constexpr uint32_t kOpDecorate = 71;
constexpr uint32_t kDecorationBuiltIn = 11;
constexpr uint32_t kBuiltInNumWorkgroups = 24;

}  // namespace

std::vector<uint32_t> patchInt8Capability(std::span<const uint32_t> words) {
    if (words.size() <= kHeaderWords || words[0] != kSpirvMagic) return {};
    bool storage_8bit = false;
    bool int8 = false;
    size_t insert_at = 0;
    for (size_t at = kHeaderWords; at < words.size();) {
        const uint32_t count = words[at] >> 16;
        const uint32_t opcode = words[at] & 0xFFFF;
        if (count == 0 || count > words.size() - at) return {};
        if (opcode == kOpCapability && count >= 2) {
            const uint32_t capability = words[at + 1];
            storage_8bit = storage_8bit || capability == kCapabilityStorageBuffer8BitAccess ||
                           capability == kCapabilityUniformAndStorageBuffer8BitAccess ||
                           capability == kCapabilityStoragePushConstant8;
            int8 = int8 || capability == kCapabilityInt8;
            insert_at = at + count;
        }
        at += count;
    }
    if (!storage_8bit || int8) return {};
    std::vector<uint32_t> patched;
    try {
        patched.reserve(words.size() + 2);
    } catch (const std::bad_alloc&) {
        return {};
    }
    patched.assign(words.begin(), words.begin() + insert_at);
    patched.push_back((2u << 16) | kOpCapability);
    patched.push_back(kCapabilityInt8);
    patched.insert(patched.end(), words.begin() + insert_at, words.end());
    return patched;
}

bool readsWorkgroupCount(std::span<const uint32_t> words) {
    // A module that cannot be read counts as reading it: it is then never split.
    if (words.size() <= kHeaderWords || words[0] != kSpirvMagic) return true;
    for (size_t at = kHeaderWords; at < words.size();) {
        const uint32_t count = words[at] >> 16;
        const uint32_t opcode = words[at] & 0xFFFF;
        if (count == 0 || count > words.size() - at) return true;
        if (opcode == kOpDecorate && count >= 4 && words[at + 2] == kDecorationBuiltIn &&
            words[at + 3] == kBuiltInNumWorkgroups)
            return true;
        at += count;
    }
    return false;
}

}  // namespace kvn
