// Shared pieces of the GPU compression tests: a handle of the real library
// code on lavapipe, compress and decompress calls that return bytes, and the
// sample inputs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "korvane.h"

namespace kvn::test {

using Bytes = std::vector<uint8_t>;

// Whether this program carries the real encode and decode kernels (the
// others are stand-ins that only let the pipelines build).
inline constexpr bool kEncodeKernels = KVN_TEST_ENCODE_KERNELS;
inline constexpr bool kDecodeKernels = KVN_TEST_DECODE_KERNELS;

class EncodeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Status and output of kvnCompressHost with a destination of the compress bound.
    KvnStatus compress(const Bytes& input, const CompressOpts& opts, Bytes* out);
    Bytes compressOk(const Bytes& input, const CompressOpts& opts);

    void* handle_ = nullptr;
};

// An environment variable set (or, for null, unset) for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
};

// Options of a call at `level` with both trailers, the checksum and the Merkle root.
inline CompressOpts withTrailers(int32_t level) {
    CompressOpts opts{};
    opts.level = level;
    opts.content_checksum = 1;
    opts.merkle_root = 1;
    return opts;
}

// Inputs that exercise the parse and the layout.
Bytes repeated(uint64_t n, uint8_t byte);
Bytes randomBytes(uint64_t n, uint32_t seed);
// Text with repeats at every distance class: a real file, cut or repeated to n bytes.
Bytes realFile(const char* path, uint64_t n);

// The content sizes of the frames of a compressed stream, in order.
std::vector<uint64_t> frameSizes(const Bytes& stream);

// The reference encoder's frame for a level 1 to 4 call with these options
// (level, chunk fraction, built-in dictionary 1, checksum, Merkle root).
Bytes referenceFrame(const Bytes& input, const CompressOpts& opts);

// The reference decoder and the library's own (into a destination of exactly
// the content size, guard bytes after it) both restore `input` from `frame`.
void expectDecodersRestore(void* handle, const Bytes& frame, const Bytes& input, const CompressOpts& opts);
// The library's decoder alone, likewise.
void expectLibraryRestores(void* handle, const Bytes& frame, const Bytes& input);

}  // namespace kvn::test
