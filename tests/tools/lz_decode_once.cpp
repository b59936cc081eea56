// Decodes one file's reference encoding once with an LZ decode kernel, on the
// host kernel runtime (so that a profiler can count the kernel's instructions
// per byte: README, "Instructions per byte") or on lavapipe (to time the
// kernel as a whole process):
//
//   lz_decode_once FILE [LEVEL [raw|general|pipelined|none [host|lavapipe]]]
//   (default level 1, raw, host)
//
// Prints the decoded bytes and whether they are the file's; exit status 1 when
// not. `none` encodes and stops: its count, taken from a kernel's, leaves the
// kernel's (the runtime's fibers defeat a profiler's per-function toggles).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/kernels/decode/lz_batches.h"
#include "tests/kernels/decode/lz_runs.h"

int main(int argc, char** argv) {
    using namespace kvn::dectest;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [LEVEL [raw|general|pipelined|none [host|lavapipe]]]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int level = argc > 2 ? std::atoi(argv[2]) : 1;
    const std::string kind = argc > 3 ? argv[3] : "raw";
    const bool lavapipe = argc > 4 && std::strcmp(argv[4], "lavapipe") == 0;
    if (input.size() < 8 || level < 1 || level > 2) {
        std::fprintf(stderr, "need a file of 8 bytes or more and level 1 or 2 (stored streams)\n");
        return 2;
    }
    const Batch batch = encodedBatch(argv[1], input, kvn::ref::encodeOptionsForLevel(level, 0.25f));
    if (kind == "none") {
        std::printf("%s level %d: encoded only\n", argv[1], level);
        return 0;
    }
    LzRun run;
    run.kernel = kind == "general" ? LzKernel::General : kind == "pipelined" ? LzKernel::Pipelined : LzKernel::Raw;
    const std::vector<uint8_t> out = runLz(lavapipe ? Backend::Lavapipe : Backend::Host, batch, run);
    const bool same = std::memcmp(out.data(), input.data(), input.size()) == 0;
    std::printf("%s level %d %s: %zu bytes decoded, %s\n", argv[1], level, kind.c_str(), input.size(),
                same ? "exact" : "DIFFERENT");
    return same ? 0 : 1;
}
