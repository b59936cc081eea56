// The decode tests' inputs: small contents, the frames the Vulkan library
// writes for them, and the CUDA library's decode of those frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvane.h"

namespace kvn::test {

using Bytes = std::vector<uint8_t>;

// Text-like bytes with repeats at several distances: every level finds matches.
Bytes repetitiveText(size_t n, uint32_t seed);
// Bytes no level can shrink (full byte range, no repeats).
Bytes noiseBytes(size_t n, uint32_t seed);
// The first `n` bytes of a corpus file; empty when there is no corpus.
Bytes corpusHead(const std::string& file, size_t n);

Bytes concat(std::initializer_list<Bytes> parts);

// Default options at `level` with both trailers.
CompressOpts optionsAt(int level);
// The options with another chunk fraction, a dictionary id, or no trailers.
CompressOpts withChunkSize(CompressOpts opts, float sc_group_size);
CompressOpts withDictionary(CompressOpts opts, uint32_t id);
CompressOpts withoutTrailers(CompressOpts opts);

struct Decoded {
    KvnStatus status;
    Bytes bytes;
};

// kvnDecompressHost of the CUDA library on a handle of its own, into a
// buffer of `cap` bytes; a user dictionary is registered first when given.
Decoded cudaDecompress(const Bytes& src, uint64_t cap, const Bytes* user_dictionary = nullptr);

}  // namespace kvn::test
