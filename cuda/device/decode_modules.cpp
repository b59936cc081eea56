// The decode kernels' modules and the lookup the pipelines use.
#include <cstdio>
#include <string_view>

#include "core/platform/platform.h"
#include "cuda/device/cuda_context.h"
#include "cuda/device/module_loading.h"

namespace kvn {
namespace {

// The embedded PTX modules (named after their kernel sources) of each group.
constexpr std::string_view kLzModules[] = {"lz_decode_kernel",       "subchunk_scan_kernel",   "descriptor_kernel",
                                           "integrity_kernel",       "frame_walk_kernel",      "frame_walk_table_kernel",
                                           "frame_walk_leap_kernel", "mega_decode_kernel"};
constexpr std::string_view kHuffmanModules[] = {"huffman_decode_kernel"};
constexpr std::string_view kWrtModules[] = {"wrt_decode_kernel"};
constexpr std::string_view kBytePlaneModules[] = {"byte_plane_kernel"};

std::span<const std::string_view> groupModules(DecodeGroup group) {
    switch (group) {
        case DecodeGroup::Lz: return kLzModules;
        case DecodeGroup::Huffman: return kHuffmanModules;
        case DecodeGroup::Wrt: return kWrtModules;
        case DecodeGroup::BytePlane: return kBytePlaneModules;
    }
    return {};
}

}  // namespace

CuResult loadModuleGroup(DecodeGroup group, ModuleGroup* out, const char** step) {
    const CudaFunctions& cu = cudaContext().cu;
    const bool line_info = group == DecodeGroup::Lz && envPresent("KVN_JIT_LINEINFO") && cu.cuModuleLoadDataEx;
    return loadModules(groupModules(group), cu.cuModuleLoadData, line_info ? cu.cuModuleLoadDataEx : nullptr, out,
                       step);
}

std::optional<KernelHandle> getKernelHandle(DecodeKernelField kernel) {
    const bool ready = init();
    const KernelHandle& field = cudaContext().decode_kernels.*kernel;
    if (ready && field) return field;
    if (envPresent("KVN_FALLBACK_TRACE"))
        std::fprintf(stderr, "[fallback] handle@0x%llx unavailable (init %s)\n",
                     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&field)), ready ? "ok" : "FAILED");
    return std::nullopt;
}

}  // namespace kvn
