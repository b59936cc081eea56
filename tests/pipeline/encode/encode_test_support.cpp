#include "encode_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "core/dict/builtin_dictionary.h"
#include "core/encode/level_table.h"
#include "core/format/compress_bound.h"
#include "core/format/frame_walk.h"
#include "reference/reference_codec.h"

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

std::vector<uint64_t> frameSizes(const Bytes& stream) {
    std::vector<uint64_t> sizes;
    for (uint64_t pos = 0; pos < stream.size();) {
        const FrameStep step = nextFrame(stream.data(), stream.size(), pos);
        EXPECT_EQ(step.error, Error::None);
        if (step.error != Error::None || step.ends_input) break;
        sizes.push_back(step.raw_total);
        pos += step.length;
    }
    return sizes;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

ScopedEnv::~ScopedEnv() { unsetenv(name_); }

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

namespace {

ref::Dictionary referenceDictionary(const CompressOpts& opts) {
    if (opts.dict_id == 0) return {};
    const BuiltinDictionary* dict = builtinDictionary(opts.dict_id);
    EXPECT_NE(dict, nullptr) << "dictionary " << opts.dict_id;
    if (!dict) return {};
    return {dict->data, static_cast<uint32_t>(dict->data_length)};
}

}  // namespace

Bytes referenceFrame(const Bytes& input, const CompressOpts& opts) {
    const int level = opts.level ? opts.level : 1;
    const float fraction = opts.sc_group_size ? opts.sc_group_size : 0.25f;
    ref::EncodeOptions enc = ref::encodeOptionsForLevel(level, fraction);
    ref::FrameOptions fo;
    fo.level_code = levelParams(level).frame_code;
    fo.checksum = opts.content_checksum != 0;
    fo.merkle_root = opts.merkle_root != 0;
    fo.chunk_table = opts.chunk_table >= 0;
    if (opts.dict_id != 0) {
        const ref::Dictionary dict = referenceDictionary(opts);
        enc.lz.dictionary = {dict.data, dict.len};
        fo.dict_id = opts.dict_id;
    }
    return ref::compressFrame(input, enc, fo);
}

void expectDecodersRestore(void* handle, const Bytes& frame, const Bytes& input, const CompressOpts& opts) {
    const ref::DecodedFrame decoded = ref::decodeFrame(frame, referenceDictionary(opts));
    EXPECT_EQ(decoded.error, Error::None);
    EXPECT_EQ(decoded.frame_len, frame.size());
    EXPECT_TRUE(decoded.bytes == input) << "the reference decoder restores the input";
    expectLibraryRestores(handle, frame, input);
}

void expectLibraryRestores(void* handle, const Bytes& frame, const Bytes& input) {
    if (!kDecodeKernels) return;
    constexpr uint8_t kGuard = 0xE5;
    Bytes back(input.size() + 64, kGuard);
    uint64_t size = 0;
    DecompressOpts dopts{};
    ASSERT_EQ(kvnDecompressHost(handle, frame.data(), frame.size(), back.data(), input.size(), &size, &dopts), 0u);
    EXPECT_TRUE(std::all_of(back.begin() + static_cast<ptrdiff_t>(input.size()), back.end(),
                            [](uint8_t b) { return b == kGuard; }))
        << "nothing is written past the destination";
    back.resize(size);
    EXPECT_TRUE(back == input) << "the library's decoder restores the input";
}

}  // namespace kvn::test
