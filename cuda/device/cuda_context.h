// The process-wide CUDA state: made by the bring-up once per process, never
// torn down (nothing is unloaded, no context is destroyed).
#pragma once

#include <atomic>
#include <cstdint>

#include "cuda/device/cuda_functions.h"
#include "cuda/device/module_loading.h"
#include "pipeline/decode/decode_kernels.h"

namespace kvn {

enum : uint8_t { kInitUntried = 0, kInitRunning = 1, kInitReady = 2, kInitFailed = 3 };

// The decode kernels come from these module groups; a group is one or more
// of the embedded PTX modules.
enum class DecodeGroup : uint8_t { Lz, Huffman, Wrt, BytePlane };
inline constexpr uint32_t kDecodeGroupCount = 4;
struct CudaContext {
    std::atomic<uint8_t> init_state{kInitUntried};
    void* driver = nullptr;
    CudaFunctions cu{};
    CuContext context = nullptr;
    CuDevice device = 0;
    uint32_t sm_count = 0;
    uint64_t l2_cache_bytes = 0;
    char device_name[128] = {};
    ModuleGroup decode_modules[kDecodeGroupCount] = {};
    DecodeKernelHandles decode_kernels{};
    // The default pipeline's stream; bring-up only makes it.
    CuStream default_stream = nullptr;
    bool default_stream_created = false;
};

CudaContext& cudaContext();

// What the encoder takes a device that reported neither to have.
inline uint64_t smCountOrDefault(const CudaContext& c) { return c.sm_count ? c.sm_count : 34; }
inline uint64_t l2BytesOrDefault(const CudaContext& c) { return c.l2_cache_bytes ? c.l2_cache_bytes : 0x2000000; }

// The decode-side bring-up: true when the device is ready (now or from an
// earlier call); a failure is permanent for the process.
bool init();

// Loads the group's embedded modules (loadModules), with line information
// for the LZ group under KVN_JIT_LINEINFO.
CuResult loadModuleGroup(DecodeGroup group, ModuleGroup* out, const char** step);

}  // namespace kvn
