// Real text for tests: a large system header, repeated as needed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace kvn::test {

// `n` bytes of the text from byte `skip` on.
inline std::vector<uint8_t> realBytes(size_t n, size_t skip = 0) {
    std::ifstream file("/usr/include/vulkan/vulkan_core.h", std::ios::binary);
    std::vector<uint8_t> text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (text.empty()) ADD_FAILURE() << "no sample text";
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n && !text.empty(); ++i) bytes[i] = text[(skip + i) % text.size()];
    return bytes;
}

}  // namespace kvn::test
