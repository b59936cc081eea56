// Compresses a file with the Vulkan library, decompresses it back and checks
// that the bytes came back.
//
//   kvn_roundtrip FILE [LEVEL]
//
// Prints the sizes, the ratio, the throughput of both directions and the verdict.
#include <korvane.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double megabytesPerSecond(size_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e6 : 0; }

int fail(const char* what, KvnStatus status) {
    std::fprintf(stderr, "%s: %s (status %u)\n", what, kvnStatusString(status), status);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [LEVEL]\n", argv[0]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    const std::vector<uint8_t> input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    void* handle = nullptr;
    if (KvnStatus s = kvnCreate(&handle); s != KVN_STATUS_SUCCESS) return fail("kvnCreate", s);

    CompressOpts copts;
    kvnCompressDefaultOpts(&copts);
    copts.level = argc > 2 ? std::atoi(argv[2]) : 1;
    copts.content_checksum = 1;
    uint64_t bound = 0;
    kvnCompressBound(handle, input.size(), 0, &bound);
    std::vector<uint8_t> frame(bound);
    uint64_t frame_size = 0;
    auto start = std::chrono::steady_clock::now();
    if (KvnStatus s = kvnCompressHost(handle, input.data(), input.size(), frame.data(), frame.size(), &frame_size,
                                      &copts);
        s != KVN_STATUS_SUCCESS)
        return fail("kvnCompressHost", s);
    const double compress_s = secondsSince(start);

    DecompressOpts dopts;
    kvnDecompressDefaultOpts(&dopts);
    // The frame's header tells how large the destination must be.
    uint64_t content_size = 0;
    if (KvnStatus s = kvnGetDecompressedSize(handle, frame.data(), &content_size); s != KVN_STATUS_SUCCESS)
        return fail("kvnGetDecompressedSize", s);
    std::vector<uint8_t> output(std::max<uint64_t>(content_size, 1));
    uint64_t output_size = 0;
    start = std::chrono::steady_clock::now();
    if (KvnStatus s = kvnDecompressHost(handle, frame.data(), frame_size, output.data(), output.size(), &output_size,
                                        &dopts);
        s != KVN_STATUS_SUCCESS)
        return fail("kvnDecompressHost", s);
    const double decompress_s = secondsSince(start);
    kvnDestroy(handle);

    const bool same = output_size == input.size() && std::memcmp(output.data(), input.data(), input.size()) == 0;
    std::printf("file          %s\n", argv[1]);
    std::printf("level         %d\n", copts.level);
    std::printf("original      %zu bytes\n", input.size());
    std::printf("compressed    %llu bytes\n", static_cast<unsigned long long>(frame_size));
    std::printf("ratio         %.3f\n", frame_size ? static_cast<double>(input.size()) / frame_size : 0.0);
    std::printf("compress      %.1f MB/s (%.3f s)\n", megabytesPerSecond(input.size(), compress_s), compress_s);
    std::printf("decompress    %.1f MB/s (%.3f s)\n", megabytesPerSecond(input.size(), decompress_s), decompress_s);
    std::printf("verdict       %s\n", same ? "round trip OK" : "MISMATCH");
    return same ? 0 : 1;
}
