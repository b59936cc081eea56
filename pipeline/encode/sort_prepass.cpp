#include "pipeline/encode/sort_prepass.h"

#include <cinttypes>
#include <cstdio>

#include "core/encode/level_table.h"
#include "core/encode/lz_batch_plan.h"
#include "core/platform/platform.h"
#include "kernels/lz_sort_layout.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/encode_launch.h"

namespace kvn {

// The host and the kernels agree on the workspace and the parse mode.
static_assert(kSortParseWorkspaceEntries == KVN_SORT_REGION_WORDS);
static_assert(static_cast<uint32_t>(ParseMode::SortParse) == KVN_LZ_MODE_SORT_PARSE);
static_assert(KVN_SORT_MAX_BATCH == (uint64_t{1} << 32) / KVN_SORT_REGION_WORDS);

namespace {

constexpr EncodeKernelShape kSortPrepassShape{256, false};

struct PrepassKernel {
    EncodeKernelField kernel;
    const char* label;
    const char* profile_name;
};

constexpr PrepassKernel kPrepass[] = {
    {&EncodeKernelHandles::sort_build_keys_fn, "kvnLzSortBuildKeysKernel", "build_keys"},
    {&EncodeKernelHandles::sort_radix_fn, "kvnLzSortRadixKernel", "radix"},
    {&EncodeKernelHandles::sort_discover_fn, "kvnLzSortDiscoverKernel", "discover"},
};

uint32_t low(uint64_t v) { return static_cast<uint32_t>(v); }
uint32_t high(uint64_t v) { return static_cast<uint32_t>(v >> 32); }

}  // namespace

bool sortProfileOn() {
    static const bool on = envPresent("KVN_VK_SORT_PROF");
    return on;
}

std::string sortProfileLine(const std::string& what, double ms) {
    const uint64_t ns = ms > 0 ? static_cast<uint64_t>(ms * 1e6) : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%06" PRIu64 "ms", ns / 1000000, ns % 1000000);
    return "vk-sort-prof: " + what + " " + text;
}

double printSortProfile(const std::string& what, double since_ms) {
    const double now = hostTimeMs();
    std::fprintf(stderr, "%s\n", sortProfileLine(what, now - since_ms).c_str());
    return now;
}

Error runSortPrepass(const SortPrepass& batch) {
    const bool profile = sortProfileOn();
    double mark = hostTimeMs();
    const uint64_t offsets[] = {0, batch.desc_offset};
    for (const PrepassKernel& k : kPrepass) {
        const std::optional<KernelHandle> kernel = getEncodePipeline(k.kernel);
        if (!kernel) return Error::KernelMissing;
        KVN_TRY(launchEncodeKernelOn(batch.stream, nullptr, k.label, *kernel, kSortPrepassShape, batch.count,
                                     {batch.input, batch.descs},
                                     {batch.count, batch.floor, low(batch.workspace_address),
                                      high(batch.workspace_address), low(batch.input_address),
                                      high(batch.input_address)},
                                     {}, batch.desc_offset ? offsets : nullptr));
        if (profile) {
            KVN_TRY(gpuOps().ctxSynchronize());
            mark = printSortProfile(k.profile_name, mark);
        }
    }
    return Error::None;
}

}  // namespace kvn
