// Real bytes for the integrity tests: system headers, read in a fixed order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace kvn::test {

inline std::vector<uint8_t> systemHeaderBytes(uint64_t n) {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("/usr/include")) {
        if (entry.is_regular_file() && entry.path().extension() == ".h") paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<uint8_t> bytes;
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes.size() >= n) break;
    }
    bytes.resize(n);
    return bytes;
}

}  // namespace kvn::test
