// Inputs for the format tests: real text from this machine, random bytes and
// repetitive data with near and far repeats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kvn::test {

// About `size` bytes of text: man pages and headers from this machine.
std::vector<uint8_t> machineText(size_t size);
std::vector<uint8_t> randomBytes(size_t size, uint32_t seed);
// Random blocks repeated at distances both below and above 64 KiB, with runs.
std::vector<uint8_t> repetitiveBytes(size_t size, uint32_t seed);

}  // namespace kvn::test
