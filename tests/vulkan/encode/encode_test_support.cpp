#include "encode_test_support.h"

#include <fstream>
#include <iterator>
#include <random>

#include "core/format/compress_bound.h"

namespace kvn::test {

void EncodeTest::SetUp() { ASSERT_EQ(kvnCreate(&handle_), 0u) << "the device and the encode pipelines come up"; }

void EncodeTest::TearDown() {
    if (handle_) kvnDestroy(handle_);
}

KvnStatus EncodeTest::compress(const Bytes& input, const CompressOpts& opts, Bytes* out) {
    out->assign(compressBound(input.size()), 0xEE);
    uint64_t size = 0;
    const uint8_t none = 0;
    const KvnStatus status = kvnCompressHost(handle_, input.empty() ? &none : input.data(), input.size(), out->data(),
                                             out->size(), &size, &opts);
    out->resize(status == 0 ? size : 0);
    return status;
}

Bytes EncodeTest::compressOk(const Bytes& input, const CompressOpts& opts) {
    Bytes out;
    EXPECT_EQ(compress(input, opts, &out), 0u);
    return out;
}

Bytes repeated(uint64_t n, uint8_t byte) { return Bytes(n, byte); }

Bytes randomBytes(uint64_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

Bytes realFile(const char* path, uint64_t n) {
    std::ifstream file(path, std::ios::binary);
    const Bytes whole((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(whole.empty()) << path;
    Bytes out;
    while (!whole.empty() && out.size() < n)
        out.insert(out.end(), whole.begin(), whole.begin() + static_cast<ptrdiff_t>(std::min<uint64_t>(whole.size(), n - out.size())));
    return out;
}

}  // namespace kvn::test
