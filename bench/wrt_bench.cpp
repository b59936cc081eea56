// Throughput of the CPU word-replacement transform on one text file.
//   wrt_bench FILE [ROUNDS]
// Prints the best of ROUNDS (default 5) for encode and decode, on one
// thread and on min(processors, 16) threads.
#include <cstdio>
#include <memory>
#include <vector>

#include "core/platform/platform.h"
#include "core/wrt/wrt_decode.h"
#include "core/wrt/wrt_encode.h"

namespace {

std::vector<uint8_t> readFile(const char* path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path, "rb");
    if (!f) return bytes;
    uint8_t buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(f);
    return bytes;
}

double mibPerSecond(size_t bytes, double ms) { return double(bytes) / (1 << 20) / (ms / 1e3); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::vector<uint8_t> text = readFile(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const uint32_t processors = kvn::processorCount();
    std::printf("text: %zu bytes, %u processors\n", text.size(), processors);

    for (uint32_t workers : {1u, processors}) {
        double encode_ms = 1e30, decode_ms = 1e30;
        kvn::WrtEncodeOutput encoded;
        for (int r = 0; r < rounds; ++r) {
            double t0 = kvn::hostTimeMs();
            if (kvn::wrtEncodeCpu(text.data(), text.size(), &encoded, workers) != kvn::Error::None) return 1;
            encode_ms = std::min(encode_ms, kvn::hostTimeMs() - t0);
        }
        if (!encoded.applied) {
            std::printf("not applied\n");
            return 1;
        }
        kvn::WrtDecodeState state;
        if (kvn::parseSection(encoded.section.bytes.get(), encoded.section.size, &state) != kvn::Error::None) return 1;
        std::vector<uint8_t> out(text.size());
        for (int r = 0; r < rounds; ++r) {
            double t0 = kvn::hostTimeMs();
            kvn::Error e = kvn::wrtDecodeCpu(state, encoded.text.get(), encoded.text_size, out.data(), out.size(),
                                             workers);
            decode_ms = std::min(decode_ms, kvn::hostTimeMs() - t0);
            if (e != kvn::Error::None || out != text) return 1;
        }
        std::printf("%2u threads: %zu -> %zu + %zu section bytes (%u words); encode %.1f ms (%.0f MiB/s), "
                    "decode %.1f ms (%.0f MiB/s)\n",
                    workers, text.size(), encoded.text_size, encoded.section.size, unsigned(state.word_count),
                    encode_ms, mibPerSecond(text.size(), encode_ms), decode_ms, mibPerSecond(text.size(), decode_ms));
    }
    return 0;
}
