#include "chunk_test_data.h"

#include "core/integrity/sample_data.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

namespace kvn::test {
namespace {

void appendManPage(std::vector<uint8_t>& out, const std::filesystem::path& path) {
    const std::string cmd = "zcat '" + path.string() + "' 2>/dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.insert(out.end(), buf, buf + n);
    pclose(pipe);
}

}  // namespace

std::vector<uint8_t> machineText(size_t size) {
    namespace fs = std::filesystem;
    std::vector<uint8_t> out;
    std::vector<fs::path> pages;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/usr/share/man/man1", ec))
        if (e.path().extension() == ".gz") pages.push_back(e.path());
    std::sort(pages.begin(), pages.end());
    for (size_t i = 0; i < pages.size() && out.size() < size / 2; ++i) appendManPage(out, pages[i]);
    out.resize(std::min(out.size(), size / 2));
    const std::vector<uint8_t> headers = systemHeaderBytes(size - out.size());
    out.insert(out.end(), headers.begin(), headers.end());
    return out;
}

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out) b = uint8_t(rng());
    return out;
}

std::vector<uint8_t> repetitiveBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    const std::vector<uint8_t> far = randomBytes(100000, seed + 1);
    std::vector<uint8_t> out;
    while (out.size() < size) {
        switch (rng() % 4) {
            case 0:  // a piece of the far block: repeats 100000 bytes apart
                out.insert(out.end(), far.begin(), far.begin() + 20000 + rng() % 60000);
                break;
            case 1:  // a run of one byte
                out.insert(out.end(), 1 + rng() % 3000, uint8_t(rng()));
                break;
            case 2: {  // a recent piece again
                const size_t len = 3 + rng() % 300, back = 1 + rng() % 4000;
                for (size_t i = 0; i < len && back <= out.size(); ++i) out.push_back(out[out.size() - back]);
                break;
            }
            default:
                for (uint32_t i = 0, n = rng() % 200; i < n; ++i) out.push_back(uint8_t(rng() % 16));
        }
    }
    out.resize(size);
    return out;
}

}  // namespace kvn::test
