#include "tests/cuda/decode/vulkan_frames.h"

#include <fstream>
#include <iterator>

namespace kvn::test {
namespace {

uint32_t nextRandom(uint32_t& x) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

}  // namespace

Bytes repetitiveText(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"frame ", "chunk ", "device ", "stream ", "kernel ", "block ",
                                         "window ", "token ", "literal ", "match ", "\n", "the "};
    Bytes bytes;
    uint32_t x = seed * 2654435761u + 1;
    while (bytes.size() < n) {
        const uint32_t r = nextRandom(x);
        if (r % 7 == 0 && bytes.size() > 300) {
            // A repeat from up to 300 bytes back.
            const size_t from = bytes.size() - 1 - (r >> 8) % 300;
            for (size_t k = 0; k < 4 + (r >> 20) % 24 && bytes.size() < n; ++k) bytes.push_back(bytes[from + k]);
            continue;
        }
        for (const char* c = kWords[(r >> 4) % 12]; *c && bytes.size() < n; ++c) bytes.push_back(uint8_t(*c));
        if (r % 5 == 0 && bytes.size() < n) bytes.push_back(uint8_t('0' + (r >> 12) % 10));
    }
    return bytes;
}

Bytes noiseBytes(size_t n, uint32_t seed) {
    Bytes bytes(n);
    uint32_t x = seed * 2246822519u + 7;
    for (uint8_t& b : bytes) b = uint8_t(nextRandom(x) >> 7);
    return bytes;
}

Bytes corpusHead(const std::string& file, size_t n) {
    const std::string dir = KVN_CORPUS_DIR;
    if (dir.empty()) return {};
    std::ifstream in(dir + "/" + file, std::ios::binary);
    Bytes bytes(n);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(n));
    bytes.resize(size_t(in.gcount()));
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

CompressOpts optionsAt(int level) {
    CompressOpts opts{};
    opts.level = level;
    opts.content_checksum = 1;
    opts.merkle_root = 1;
    return opts;
}

CompressOpts withChunkSize(CompressOpts opts, float sc_group_size) {
    opts.sc_group_size = sc_group_size;
    return opts;
}

CompressOpts withDictionary(CompressOpts opts, uint32_t id) {
    opts.dict_id = id;
    return opts;
}

CompressOpts withoutTrailers(CompressOpts opts) {
    opts.content_checksum = 0;
    opts.merkle_root = 0;
    return opts;
}

Decoded cudaDecompress(const Bytes& src, uint64_t cap, const Bytes* user_dictionary) {
    void* handle = nullptr;
    if (KvnStatus s = kvnCreate(&handle); s != KVN_STATUS_SUCCESS) return {s, {}};
    if (user_dictionary) {
        uint32_t id = 0;
        if (KvnStatus s = kvnSetDictionary(handle, user_dictionary->data(), user_dictionary->size(), &id);
            s != KVN_STATUS_SUCCESS) {
            kvnDestroy(handle);
            return {s, {}};
        }
    }
    Bytes dst(cap + 1);
    uint64_t size = 0;
    DecompressOpts opts{};
    const KvnStatus status = kvnDecompressHost(handle, src.data(), src.size(), dst.data(), cap, &size, &opts);
    dst.resize(status == KVN_STATUS_SUCCESS ? size : 0);
    kvnDestroy(handle);
    return {status, dst};
}

}  // namespace kvn::test
