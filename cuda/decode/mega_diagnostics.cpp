#include "cuda/decode/mega_diagnostics.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/platform/platform.h"
#include "cuda/device/cuda_context.h"
#include "kernels/format_constants.h"

namespace kvn {
namespace {

constexpr uint32_t kPhases = 8;
constexpr const char* kPhaseNames[kPhases + 1] = {"",          "1 walk",        "2 scan_parse",    "3 compact",
                                                  "4 merge_huff", "5 huff_build", "6 huff_decode", "7 gather_off16",
                                                  "8 lz"};
constexpr uint32_t kSlotMerge = 4;
constexpr uint32_t kSlotBuild = 5;
constexpr uint32_t kSlotEnd = 8;
constexpr uint32_t kSlotProbes = 9;
constexpr uint32_t kSlotScan = 10;
constexpr uint32_t kSlotReconcile = 11;
constexpr uint32_t kSlotEmit = 12;
constexpr uint32_t kSlotAdopted = 13;
constexpr uint32_t kSlotSerial = 14;
constexpr uint32_t kSlotFalseLatches = 15;
constexpr uint32_t kSlotRawSubchunks = 16;
constexpr uint32_t kSlotGeneralSubchunks = 17;
constexpr uint32_t kSlotGeneralBytes = 18;
constexpr uint32_t kSlotOff32 = 19;
constexpr double kUsPerMs = 1000.0;

}  // namespace

void printMegaHostProfile(const MegaHostTimes& t) {
    std::fprintf(stderr,
                 "[mega-host] workspace=%.1fus memsets=%.1fus prealloc=%.1fus launch=%.1fus sync=%.1fus d2h=%.1fus "
                 "free=%.1fus TOTAL=%.1fus\n",
                 (t.workspace - t.start) * kUsPerMs, (t.memsets - t.workspace) * kUsPerMs,
                 (t.prealloc - t.memsets) * kUsPerMs, (t.launch - t.prealloc) * kUsPerMs,
                 (t.sync - t.launch) * kUsPerMs, (t.d2h - t.sync) * kUsPerMs, (t.free - t.d2h) * kUsPerMs,
                 (t.free - t.start) * kUsPerMs);
}

void printMegaDiagnostics(const uint64_t (&s)[kMegaProfileSlots]) {
    uint64_t total = 0;
    for (uint32_t i = 1; i <= kPhases; ++i) {
        if (s[i - 1] == 0 || s[i] <= s[i - 1]) continue;
        std::fprintf(stderr, "[mega-phase] %s: %" PRIu64 " cycles\n", kPhaseNames[i], s[i] - s[i - 1]);
        total += s[i] - s[i - 1];
    }
    if (s[kSlotBuild] == 0 && s[kSlotMerge] != 0 && s[kSlotEnd] > s[kSlotMerge]) {
        std::fprintf(stderr, "[mega-phase] 5-8 lump (tiled): %" PRIu64 " cycles\n", s[kSlotEnd] - s[kSlotMerge]);
        total += s[kSlotEnd] - s[kSlotMerge];
    }
    std::fprintf(stderr, "[mega-phase] total: %" PRIu64 " cycles\n", total);
    if (s[kSlotScan] != 0)
        std::fprintf(stderr,
                     "[mega-walk] leap B scan=%" PRIu64 " C reconcile=%" PRIu64 " D emit=%" PRIu64
                     " cycles; probes=%" PRIu64 " false-latches=%" PRIu64 " chunks adopted=%" PRIu64
                     " serial-fallback=%" PRIu64 "\n",
                     s[kSlotScan], s[kSlotReconcile], s[kSlotEmit], s[kSlotProbes], s[kSlotFalseLatches],
                     s[kSlotAdopted], s[kSlotSerial]);
    if (s[kSlotRawSubchunks] != 0 || s[kSlotGeneralSubchunks] != 0)
        std::fprintf(stderr,
                     "[mega-lz] sub-chunks: PP-raw=%" PRIu64 " general=%" PRIu64 "; general bytes=%" PRIu64
                     " off32 entries=%" PRIu64 "\n",
                     s[kSlotRawSubchunks], s[kSlotGeneralSubchunks], s[kSlotGeneralBytes], s[kSlotOff32]);
}

void printMegaLaunchFailed(CuResult rc, uint32_t grid) {
    std::fprintf(stderr, "[mega-launch] cuLaunchCooperativeKernel rc=%d grid=%u\n", rc, grid);
}

void printMegaSyncFailed(CuResult rc) { std::fprintf(stderr, "[mega-launch] cuStreamSynchronize rc=%d\n", rc); }

void printMegaLaunched(uint32_t grid) {
    std::fprintf(stderr, "[mega-launch] launched grid=%u sync ok, reading meta\n", grid);
}

void printMegaWalkFault(const MegaMeta& m) {
    std::fprintf(stderr, "[mega-walk] status=%u n_chunks=%u decomp=%u block_start=%u block_size=%u total_sub=%u\n",
                 m.status, m.count, m.decoded, m.payload_base, m.payload_len, m.subchunks);
}

void printWalkStatus(uint32_t status, uint64_t frame_size, uint64_t decoded_size) {
    std::fprintf(stderr, "[walk-status] non-zero walk status: %u, frame_size=%" PRIu64 ", decomp_size=%" PRIu64 "\n",
                 status, frame_size, decoded_size);
}

Error writeWalkDump(const char* path, const MegaMeta& meta, CuDevicePtr descs, CuDevicePtr starts) {
    const CudaFunctions& cu = cudaContext().cu;
    if (!cu.cuMemcpyDtoH) return Error::BackendNotAvailable;
    const uint64_t n = meta.count;
    std::vector<uint8_t> bytes(sizeof meta + n * (KVN_CHUNK_DESC_BYTES + 4));
    std::memcpy(bytes.data(), &meta, sizeof meta);
    uint8_t* at = bytes.data() + sizeof meta;
    if (n != 0 && (cu.cuMemcpyDtoH(at, descs, n * KVN_CHUNK_DESC_BYTES) != kCuSuccess ||
                   cu.cuMemcpyDtoH(at + n * KVN_CHUNK_DESC_BYTES, starts, n * 4) != kCuSuccess))
        return Error::CopyFailed;
    return writeWholeFile(path, bytes.data(), bytes.size()) ? Error::None : Error::CopyFailed;
}

}  // namespace kvn
