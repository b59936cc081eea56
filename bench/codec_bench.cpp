// Ratio and throughput of the GPU codec side by side with lz4, zstd and
// libdeflate on a folder of files, with the device's own copy throughput as
// the yardstick for the GPU rows.
//
//   codec_bench DIR [LEVEL...]          (levels of this codec; default 1 to 4, and
//       the last of them again with the automatic byte-plane stride)
//   codec_bench --calls DIR [LEVEL...]  this codec only: per file and level the
//       ratio, both directions as % of the copy kernel, the host's fence waits
//       and device idles per call, and the top kernel's share of a timed call
//
// Every figure is the best of a few rounds; MB/s counts input bytes (10^6).
// Prints one Markdown table.
#include <libdeflate.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/platform/platform.h"
#include "kernels/embedded_modules.h"
#include "korvane.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vulkan_context.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kRounds = 3;

struct Result {
    bool ok = false;
    uint64_t compressed = 0;
    double compress_ms = 0;
    double decompress_ms = 0;
};

// The best time of kRounds runs of body, which returns false on failure.
bool bestOf(double* best_ms, const std::function<bool()>& body) {
    *best_ms = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        const double start = kvn::hostTimeMs();
        if (!body()) return false;
        *best_ms = std::min(*best_ms, kvn::hostTimeMs() - start);
    }
    return true;
}

// Compress into `packed` with `compress` (size, or 0 on failure), time both
// directions and check that the bytes come back.
Result measure(const Bytes& input, uint64_t bound, const std::function<uint64_t(Bytes&)>& compress,
               const std::function<bool(const Bytes&, Bytes&)>& decompress) {
    Result r;
    Bytes packed(bound);
    Bytes back(std::max<size_t>(input.size(), 1));
    if (!bestOf(&r.compress_ms, [&] { return (r.compressed = compress(packed)) != 0; })) return r;
    packed.resize(r.compressed);
    if (!bestOf(&r.decompress_ms, [&] { return decompress(packed, back); })) return r;
    r.ok = std::memcmp(back.data(), input.data(), input.size()) == 0;
    return r;
}

// `stride` -1 asks for the automatic byte-plane choice.
Result korvane(void* handle, const Bytes& input, int level, int32_t stride = 0) {
    uint64_t bound = 0;
    kvnCompressBound(handle, input.size(), 0, &bound);
    CompressOpts copts;
    kvnCompressDefaultOpts(&copts);
    copts.level = level;
    copts.byte_plane_stride = stride;
    DecompressOpts dopts;
    kvnDecompressDefaultOpts(&dopts);
    return measure(
        input, bound,
        [&](Bytes& out) {
            uint64_t size = 0;
            return kvnCompressHost(handle, input.data(), input.size(), out.data(), out.size(), &size, &copts) == 0
                       ? size
                       : 0;
        },
        [&](const Bytes& packed, Bytes& out) {
            uint64_t size = 0;
            return kvnDecompressHost(handle, packed.data(), packed.size(), out.data(), out.size(), &size, &dopts) ==
                       0 &&
                   size == input.size();
        });
}

Result lz4(const Bytes& input, int hc_level) {
    const int n = static_cast<int>(input.size());
    return measure(
        input, LZ4_compressBound(n),
        [&](Bytes& out) {
            const char* src = reinterpret_cast<const char*>(input.data());
            char* dst = reinterpret_cast<char*>(out.data());
            const int size = hc_level ? LZ4_compress_HC(src, dst, n, static_cast<int>(out.size()), hc_level)
                                      : LZ4_compress_default(src, dst, n, static_cast<int>(out.size()));
            return static_cast<uint64_t>(std::max(size, 0));
        },
        [&](const Bytes& packed, Bytes& out) {
            return LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()), reinterpret_cast<char*>(out.data()),
                                       static_cast<int>(packed.size()), static_cast<int>(out.size())) == n;
        });
}

Result zstd(const Bytes& input, int level) {
    return measure(
        input, ZSTD_compressBound(input.size()),
        [&](Bytes& out) {
            const size_t size = ZSTD_compress(out.data(), out.size(), input.data(), input.size(), level);
            return ZSTD_isError(size) ? uint64_t{0} : size;
        },
        [&](const Bytes& packed, Bytes& out) {
            return ZSTD_decompress(out.data(), out.size(), packed.data(), packed.size()) == input.size();
        });
}

Result deflate(const Bytes& input, int level) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    const Result r = measure(
        input, libdeflate_deflate_compress_bound(c, input.size()),
        [&](Bytes& out) { return uint64_t{libdeflate_deflate_compress(c, input.data(), input.size(), out.data(), out.size())}; },
        [&](const Bytes& packed, Bytes& out) {
            size_t got = 0;
            return libdeflate_deflate_decompress(d, packed.data(), packed.size(), out.data(), out.size(), &got) ==
                       LIBDEFLATE_SUCCESS &&
                   got == input.size();
        });
    libdeflate_free_compressor(c);
    libdeflate_free_decompressor(d);
    return r;
}

// MB/s of the yardstick kernel copying `bytes` between two device buffers; 0
// when it cannot run.
double deviceCopyMBs(uint64_t bytes) {
    using namespace kvn;
    const EmbeddedModule* module = nullptr;
    for (const EmbeddedModule& m : embeddedModules())
        if (std::strcmp(m.name, "kvnBenchCopyKernel") == 0) module = &m;
    if (!module || !ensureVulkanContext()) return 0;
    EncodeKernelSpec spec{};
    spec.kernel_name = spec.module_name = "kvnBenchCopyKernel";
    spec.binding_count = 2;
    spec.push_bytes = 4;
    KernelHandle pipeline = nullptr;
    if (!buildEncodePipeline(module->bytes, module->size, spec, &pipeline)) return 0;
    const GpuOpsTable& ops = gpuOps();
    bytes = (bytes + 15) / 16 * 16;
    DeviceBufferHandle src = 0, dst = 0;
    if (ops.memAlloc(&src, bytes) != Error::None || ops.memAlloc(&dst, bytes) != Error::None) return 0;
    uint32_t count = static_cast<uint32_t>(bytes / 16);
    void* params[] = {&src, &dst, &count};
    double best = 0;
    const bool ran = bestOf(&best, [&] {
        return ops.launchKernel(pipeline, 1024, 1, 1, 256, 1, 1, 0, 0, params, nullptr, nullptr) == Error::None &&
               ops.ctxSynchronize() == Error::None;
    });
    ops.memFree(src);
    ops.memFree(dst);
    return ran && best > 0 ? bytes / (best / 1e3) / 1e6 : 0;
}

double mbs(uint64_t bytes, double ms) { return ms > 0 ? bytes / (ms / 1e3) / 1e6 : 0; }

// Host waits on the device over one call of body.
struct Waits {
    uint64_t fences = 0;
    uint64_t idles = 0;
};
Waits waitsOf(const std::function<void()>& body) {
    const kvn::HostWaitCounts before = kvn::hostWaitCounts();
    body();
    const kvn::HostWaitCounts after = kvn::hostWaitCounts();
    return {after.fence_waits - before.fence_waits, after.idle_waits - before.idle_waits};
}

// "label share%" of the longest kernel of the handle's last call against the
// call's wall time.
std::string topKernel(void* handle, double wall_ms) {
    TimingEntry entries[256];
    uint64_t count = 0;
    if (kvnGetLastTimings(handle, entries, 256, &count) != 0 || count == 0) return "-";
    // Kernels only: the decoder closes its list with the sum of its entries.
    const TimingEntry* top = nullptr;
    for (uint64_t i = 0; i < std::min<uint64_t>(count, 256); ++i)
        if (!std::strstr(entries[i].label, " total") && (!top || entries[i].milliseconds > top->milliseconds))
            top = &entries[i];
    if (!top) return "-";
    char text[160];
    std::snprintf(text, sizeof text, "%s %.1f%%", top->label, wall_ms > 0 ? 100 * top->milliseconds / wall_ms : 0.0);
    return text;
}

// One row of the --calls table.
void callsRow(void* handle, const std::string& name, const Bytes& input, int level, double copy) {
    const Result r = korvane(handle, input, level);
    if (!r.ok) {
        std::printf("| %s | %zu | %d | failed | | | | | | |\n", name.c_str(), input.size(), level);
        return;
    }
    uint64_t bound = 0;
    kvnCompressBound(handle, input.size(), 0, &bound);
    Bytes packed(bound), back(std::max<size_t>(input.size(), 1));
    uint64_t size = 0, got = 0;
    CompressOpts copts;
    kvnCompressDefaultOpts(&copts);
    copts.level = level;
    DecompressOpts dopts;
    kvnDecompressDefaultOpts(&dopts);
    const Waits cw = waitsOf(
        [&] { kvnCompressHost(handle, input.data(), input.size(), packed.data(), packed.size(), &size, &copts); });
    const Waits dw =
        waitsOf([&] { kvnDecompressHost(handle, packed.data(), size, back.data(), back.size(), &got, &dopts); });
    copts.record_timings = 1;
    dopts.record_timings = 1;
    double start = kvn::hostTimeMs();
    kvnCompressHost(handle, input.data(), input.size(), packed.data(), packed.size(), &size, &copts);
    const std::string ctop = topKernel(handle, kvn::hostTimeMs() - start);
    start = kvn::hostTimeMs();
    kvnDecompressHost(handle, packed.data(), size, back.data(), back.size(), &got, &dopts);
    const std::string dtop = topKernel(handle, kvn::hostTimeMs() - start);
    const double c = mbs(input.size(), r.compress_ms), d = mbs(input.size(), r.decompress_ms);
    std::printf("| %s | %zu | %d | %.3f | %.3f%% | %.3f%% | %llu / %llu | %llu / %llu | %s | %s |\n", name.c_str(),
                input.size(), level, double(input.size()) / r.compressed, copy > 0 ? 100 * c / copy : 0.0,
                copy > 0 ? 100 * d / copy : 0.0, static_cast<unsigned long long>(cw.fences),
                static_cast<unsigned long long>(cw.idles), static_cast<unsigned long long>(dw.fences),
                static_cast<unsigned long long>(dw.idles), ctop.c_str(), dtop.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const bool calls = argc > 1 && std::strcmp(argv[1], "--calls") == 0;
    if (calls) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [--calls] DIR [LEVEL...]\n", argv[0]);
        return 2;
    }
    std::vector<int> levels;
    for (int i = 2; i < argc; ++i) levels.push_back(std::atoi(argv[i]));
    if (levels.empty()) levels = {1, 2, 3, 4};

    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.' &&
            entry.path().filename() != "MANIFEST")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    void* handle = nullptr;
    if (const KvnStatus s = kvnCreate(&handle); s != 0) {
        std::fprintf(stderr, "kvnCreate: %s\n", kvnStatusString(s));
        return 1;
    }
    uint64_t largest = 0;
    for (const auto& f : files) largest = std::max<uint64_t>(largest, std::filesystem::file_size(f));
    const double copy = deviceCopyMBs(std::max<uint64_t>(largest, 1 << 20));
    std::printf("device: %s; device copy kernel: %.0f MB/s (GPU rows also as %% of it)\n\n",
                kvn::vulkanContext().device_name, copy);
    if (calls) {
        std::printf("| file | size | level | ratio | compress %% of copy | decompress %% of copy | compress fence waits "
                    "/ idles | decompress fence waits / idles | compress top kernel | decompress top kernel |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---|---|\n");
    } else {
        std::printf("| file | size | codec | ratio | compress MB/s | decompress MB/s |\n");
        std::printf("|---|---:|---|---:|---:|---:|\n");
    }
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        const Bytes input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string name = path.filename().string();
        if (calls) {
            for (int level : levels) callsRow(handle, name, input, level, copy);
            continue;
        }
        auto row = [&](const std::string& codec, const Result& r, bool gpu) {
            if (!r.ok) {
                std::printf("| %s | %zu | %s | failed | | |\n", name.c_str(), input.size(), codec.c_str());
                return;
            }
            const double c = mbs(input.size(), r.compress_ms), d = mbs(input.size(), r.decompress_ms);
            if (gpu && copy > 0)
                std::printf("| %s | %zu | %s | %.3f | %.1f (%.1f%%) | %.1f (%.1f%%) |\n", name.c_str(), input.size(),
                            codec.c_str(), double(input.size()) / r.compressed, c, 100 * c / copy, d, 100 * d / copy);
            else
                std::printf("| %s | %zu | %s | %.3f | %.1f | %.1f |\n", name.c_str(), input.size(), codec.c_str(),
                            double(input.size()) / r.compressed, c, d);
            std::fflush(stdout);
        };
        for (int level : levels) row("korvane " + std::to_string(level), korvane(handle, input, level), true);
        // Numeric files gain from the byte-plane transform; elsewhere the
        // automatic choice keeps the plain frame.
        const int top = levels.back();
        row("korvane " + std::to_string(top) + " auto stride", korvane(handle, input, top, -1), true);
        row("lz4", lz4(input, 0), false);
        row("lz4 hc 9", lz4(input, LZ4HC_CLEVEL_DEFAULT), false);
        for (int level : {1, 3, 9, 19}) row("zstd " + std::to_string(level), zstd(input, level), false);
        row("libdeflate 6", deflate(input, 6), false);
    }
    kvnDestroy(handle);
    return 0;
}
