// The decode-side bring-up: load the driver, bind its entry points, pick
// device 0, adopt or create a context, load the decode modules, make the
// default stream.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "core/platform/platform.h"
#include "cuda/device/cuda_context.h"
#include "cuda/device/gpu_ops.h"
#include "cuda/device/init_report.h"

namespace kvn {
namespace {

ExclusiveLock g_cuda_init_lock;
// The thread running the bring-up, so that a call back into it from the same
// thread is refused instead of waiting on its own lock.
std::atomic<uintptr_t> g_init_owner{0};

void readDeviceFacts(CudaContext& ctx) {
    if (ctx.cu.cuDeviceGetAttribute) {
        int value = 0;
        if (ctx.cu.cuDeviceGetAttribute(&value, kCuAttributeMultiprocessorCount, ctx.device) == kCuSuccess && value > 0)
            ctx.sm_count = uint32_t(value);
        value = 0;
        if (ctx.cu.cuDeviceGetAttribute(&value, kCuAttributeL2CacheSize, ctx.device) == kCuSuccess && value > 0)
            ctx.l2_cache_bytes = uint64_t(value);
    }
    if (ctx.cu.cuDeviceGetName) {
        char name[sizeof ctx.device_name] = {};
        if (ctx.cu.cuDeviceGetName(name, int(sizeof name) - 1, ctx.device) == kCuSuccess)
            std::memcpy(ctx.device_name, name, sizeof name);
    }
}

// Required: the call is bound and succeeds; otherwise its step is reported.
bool require(bool bound, const char* resolve_step, CuResult result, const char* step) {
    if (!bound) {
        reportInitFailure(resolve_step, 0);
        return false;
    }
    if (result != kCuSuccess) {
        reportInitFailure(step, result);
        return false;
    }
    return true;
}

// The mode text, or null when no context could be had.
const char* adoptOrCreateContext(CudaContext& ctx) {
    CuContext current = nullptr;
    if (ctx.cu.cuCtxGetCurrent && ctx.cu.cuCtxGetCurrent(&current) == kCuSuccess && current) {
        ctx.context = current;
        return "ctx=piggyback";
    }
    if (!ctx.context) {
        if (!ctx.cu.cuCtxCreate) {
            reportInitFailure("cuCtxCreate resolve", 0);
            return nullptr;
        }
        const CuResult result = ctx.cu.cuCtxCreate(&ctx.context, 0, ctx.device);
        if (result != kCuSuccess) {
            reportInitFailure("cuCtxCreate", result);
            return nullptr;
        }
    }
    return "ctx=create";
}

// The LZ group: every module must load, kvnLzDecodeKernel and
// kvnScanParseKernel must resolve; the rest of its kernels are optional.
bool loadLzGroup(CudaContext& ctx) {
    ModuleGroup& group = ctx.decode_modules[uint32_t(DecodeGroup::Lz)];
    const char* step = "";
    const CuResult loaded = loadModuleGroup(DecodeGroup::Lz, &group, &step);
    if (loaded != kCuSuccess || group.count == 0) {
        reportInitFailure(step, loaded);
        return false;
    }
    DecodeKernelHandles& k = ctx.decode_kernels;
    const CuResult first = resolveKernel(group, ctx.cu.cuModuleGetFunction, "kvnLzDecodeKernel", &k.kernel_fn);
    if (first != kCuSuccess) {
        reportInitFailure("cuModuleGetFunction(kvnLzDecodeKernel)", first);
        return false;
    }
    for (const KernelSpec& spec : kKernelSpecs) {
        const std::string_view name = spec.module_name;
        if (spec.handle == &DecodeKernelHandles::kernel_fn || spec.handle == &DecodeKernelHandles::huff_build_fn ||
            spec.handle == &DecodeKernelHandles::huff_decode_fn || spec.handle == &DecodeKernelHandles::wrt_decode_fused_fn ||
            spec.handle == &DecodeKernelHandles::byte_plane_interleave_fn)
            continue;
        const CuResult result = resolveKernel(group, ctx.cu.cuModuleGetFunction, spec.module_name, &(k.*spec.handle));
        if (result != kCuSuccess && name == "kvnScanParseKernel") {
            std::fprintf(stderr, "[gpu-init] required kernel kvnScanParseKernel missing from lz_kernel.ptx; failing bring-up\n");
            return false;
        }
    }
    // The CUDA-only forms are optional: without them the forms above serve.
    resolveKernel(group, ctx.cu.cuModuleGetFunction, "kvnLzDecodeRawPipelinedBigKernel", &k.kernel_raw_pipeline_big_fn);
    resolveKernel(group, ctx.cu.cuModuleGetFunction, "kvnLzDecodeGeneralPipelinedKernel", &k.kernel_general_pipeline_fn);
    resolveKernel(group, ctx.cu.cuModuleGetFunction, "kvnD2dMegaDecodeKernel", &k.mega_decode_fn);
    return true;
}

// The optional groups: a failed load disables what they serve.
void loadOptionalGroups(CudaContext& ctx) {
    DecodeKernelHandles& k = ctx.decode_kernels;
    const char* step = "";
    ModuleGroup& huffman = ctx.decode_modules[uint32_t(DecodeGroup::Huffman)];
    if (const CuResult r = loadModuleGroup(DecodeGroup::Huffman, &huffman, &step); r != kCuSuccess) {
        std::fprintf(stderr, "[gpu-init] cuModuleLoadData(huffman_kernel.ptx) failed: CUresult %d; L3+ decode disabled (L1/L2 unaffected)\n", r);
    } else if (huffman.count > 0 &&
               (resolveKernel(huffman, ctx.cu.cuModuleGetFunction, "kvnHuffBuildLutKernel", &k.huff_build_fn) != kCuSuccess ||
                resolveKernel(huffman, ctx.cu.cuModuleGetFunction, "kvnHuffDecode4StreamKernel", &k.huff_decode_fn) != kCuSuccess)) {
        // Half a Huffman stage is none.
        k.huff_build_fn = nullptr;
        k.huff_decode_fn = nullptr;
        std::fprintf(stderr, "[gpu-init] huffman_kernel.ptx loaded but its kernels did not resolve; L3+ decode disabled\n");
    }
    ModuleGroup& wrt = ctx.decode_modules[uint32_t(DecodeGroup::Wrt)];
    if (const CuResult r = loadModuleGroup(DecodeGroup::Wrt, &wrt, &step); r != kCuSuccess) {
        std::fprintf(stderr, "[gpu-init] cuModuleLoadData(decode wrt_kernel.ptx) failed: CUresult %d; WRT frames fall back to the CPU inverse (218 = INVALID_PTX, run the diagnosis ladder)\n", r);
    } else {
        resolveKernel(wrt, ctx.cu.cuModuleGetFunction, "kvnWrtDecodeFusedKernel", &k.wrt_decode_fused_fn);
    }
    ModuleGroup& plane = ctx.decode_modules[uint32_t(DecodeGroup::BytePlane)];
    if (loadModuleGroup(DecodeGroup::BytePlane, &plane, &step) == kCuSuccess)
        resolveKernel(plane, ctx.cu.cuModuleGetFunction, "kvnBytePlaneInterleaveKernel", &k.byte_plane_interleave_fn);
}

void applyFloorCopy(CudaContext& ctx) {
    if (!envPresent("KVN_FLOOR_COPY") || !ctx.cu.cuModuleGetGlobal || !ctx.cu.cuMemcpyHtoD) return;
    const ModuleGroup& group = ctx.decode_modules[uint32_t(DecodeGroup::Lz)];
    for (uint32_t i = 0; i < group.count; ++i) {
        CuDevicePtr address = 0;
        size_t bytes = 0;
        if (ctx.cu.cuModuleGetGlobal(&address, &bytes, group.modules[i], "g_kvn_floor_copy") != kCuSuccess ||
            bytes < 4)
            continue;
        const uint32_t on = 1;
        ctx.cu.cuMemcpyHtoD(address, &on, sizeof on);
    }
}

// Every step of the bring-up; false at the first that fails (its message, when
// it has one, went out already).
bool bringUp(CudaContext& ctx) {
    if (envPresent("KVN_NO_CUDA")) return false;
    const bool timed = envPresent("KVN_E2E_TIMER");
    const double t0 = hostTimeMs();
    ctx.driver = openLibrary(kCudaDriverLibrary);
    if (!ctx.driver) {
        if (timed) reportDriverMissing();
        return false;
    }
    bindCudaFunctions(ctx.driver, &ctx.cu);
    if (!require(ctx.cu.cuInit, "cuInit resolve", ctx.cu.cuInit ? ctx.cu.cuInit(0) : 0, "cuInit")) return false;
    if (!require(ctx.cu.cuDeviceGet, "cuDeviceGet resolve",
                 ctx.cu.cuDeviceGet ? ctx.cu.cuDeviceGet(&ctx.device, 0) : 0, "cuDeviceGet"))
        return false;
    readDeviceFacts(ctx);
    const char* mode = adoptOrCreateContext(ctx);
    if (!mode) return false;
    const double t1 = hostTimeMs();
    if (!ctx.cu.cuModuleLoadData || !ctx.cu.cuModuleGetFunction) return false;
    if (!loadLzGroup(ctx)) return false;
    const double t2 = hostTimeMs();
    loadOptionalGroups(ctx);
    const double t3 = hostTimeMs();
    if (timed) printInitTimings({mode, t1 - t0, t2 - t1, t3 - t2, t3 - t0});
    if (!ctx.default_stream_created) {
        if (!ctx.cu.cuStreamCreate || ctx.cu.cuStreamCreate(&ctx.default_stream, kCuStreamNonBlocking) != kCuSuccess) {
            reportInitFailure("ensurePipelineStream(g_default)", 0);
            return false;
        }
        ctx.default_stream_created = true;
    }
    applyFloorCopy(ctx);
    return true;
}

}  // namespace

CudaContext& cudaContext() {
    static CudaContext context;
    return context;
}

bool init() {
    CudaContext& ctx = cudaContext();
    const uint8_t seen = ctx.init_state.load(std::memory_order_acquire);
    if (seen == kInitReady) return true;
    if (seen == kInitFailed) return false;
    if (seen == kInitRunning && g_init_owner.load() == currentThreadTag()) {
        std::fprintf(stderr, "[gpu-init] BUG: re-entrant init() on the same thread; reporting unavailable\n");
        return false;
    }
    LockGuard guard(g_cuda_init_lock);
    const uint8_t state = ctx.init_state.load(std::memory_order_acquire);
    if (state == kInitReady) return true;
    if (state == kInitFailed) return false;
    ctx.init_state.store(kInitRunning, std::memory_order_release);
    g_init_owner.store(currentThreadTag());
    const bool ready = bringUp(ctx);
    if (ready) fillGpuOps();
    g_init_owner.store(0);
    ctx.init_state.store(ready ? kInitReady : kInitFailed, std::memory_order_release);
    return ready;
}

}  // namespace kvn
