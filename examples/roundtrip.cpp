// Compresses a file with the Vulkan library, decompresses it back and checks
// that the bytes came back.
//
//   kvn_roundtrip FILE [LEVEL]
//
// Prints the sizes, the ratio, the throughput of both directions (of a second,
// warm call), how long the first calls took and the verdict.
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

struct Timed {
    KvnStatus status;
    double seconds;
};

template <typename Call>
Timed timed(Call call) {
    const auto start = std::chrono::steady_clock::now();
    const KvnStatus status = call();
    return {status, secondsSince(start)};
}

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
    auto compress = [&] {
        return kvnCompressHost(handle, input.data(), input.size(), frame.data(), frame.size(), &frame_size, &copts);
    };

    DecompressOpts dopts;
    kvnDecompressDefaultOpts(&dopts);
    std::vector<uint8_t> output;
    uint64_t output_size = 0;
    auto decompress = [&] {
        // The frames' headers tell how large the destination must be (a
        // large input is written as several frames).
        uint64_t content_size = 0;
        if (KvnStatus s = kvnGetTotalDecompressedSize(handle, frame.data(), frame_size, &content_size);
            s != KVN_STATUS_SUCCESS)
            return s;
        output.assign(std::max<uint64_t>(content_size, 1), 0);
        return kvnDecompressHost(handle, frame.data(), frame_size, output.data(), output.size(), &output_size,
                                 &dopts);
    };
    auto sameAsInput = [&] {
        return output_size == input.size() && std::memcmp(output.data(), input.data(), input.size()) == 0;
    };

    // The first call of each direction also brings the device up and builds
    // its kernels (on lavapipe: compiles them); the second shows the codec.
    Timed first_compress = timed(compress), first_decompress = timed(decompress);
    if (first_compress.status != KVN_STATUS_SUCCESS) return fail("kvnCompressHost", first_compress.status);
    if (first_decompress.status != KVN_STATUS_SUCCESS) return fail("kvnDecompressHost", first_decompress.status);
    const bool first_same = sameAsInput();
    Timed warm_compress = timed(compress), warm_decompress = timed(decompress);
    if (warm_compress.status != KVN_STATUS_SUCCESS) return fail("kvnCompressHost", warm_compress.status);
    if (warm_decompress.status != KVN_STATUS_SUCCESS) return fail("kvnDecompressHost", warm_decompress.status);
    const bool same = first_same && sameAsInput();
    kvnDestroy(handle);

    std::printf("file          %s\n", argv[1]);
    std::printf("level         %d\n", copts.level);
    std::printf("original      %zu bytes\n", input.size());
    std::printf("compressed    %llu bytes\n", static_cast<unsigned long long>(frame_size));
    std::printf("ratio         %.3f\n", frame_size ? static_cast<double>(input.size()) / frame_size : 0.0);
    std::printf("compress      %.1f MB/s (%.3f s)\n", megabytesPerSecond(input.size(), warm_compress.seconds),
                warm_compress.seconds);
    std::printf("decompress    %.1f MB/s (%.3f s)\n", megabytesPerSecond(input.size(), warm_decompress.seconds),
                warm_decompress.seconds);
    std::printf("first calls   %.3f s compress, %.3f s decompress (device bring-up and kernel builds)\n",
                first_compress.seconds, first_decompress.seconds);
    std::printf("verdict       %s\n", same ? "round trip OK" : "MISMATCH");
    return same ? 0 : 1;
}
