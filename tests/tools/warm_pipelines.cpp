// Dispatches one library kernel (named by the first argument) once on
// lavapipe so that the Mesa shader cache holds its compiled form before the
// tests start. lavapipe compiles a pipeline at its first dispatch; a cold
// compile of the large LZ kernels takes tens of seconds, and many test
// processes doing it at once on a loaded machine can outlast the device
// layer's 60 s fence wait. One process per kernel lets CTest compile them in
// parallel.
#include <cstdio>
#include <cstring>
#include <vector>

#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/kernel_table.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vulkan_context.h"

namespace {

using namespace kvn;

// All-zero buffers and push words: every kernel reads a count of 0 and ends.
bool dispatchOnce(KernelHandle kernel, uint32_t bindings, uint32_t push_bytes) {
    GpuOpsTable& ops = gpuOps();
    std::vector<DeviceBufferHandle> buffers(bindings);
    for (DeviceBufferHandle& b : buffers) {
        if (ops.memAlloc(&b, 4096) != Error::None || ops.memsetD8(b, 0, 4096) != Error::None) return false;
    }
    std::vector<uint32_t> push(push_bytes / 4, 0);
    std::vector<void*> params;
    for (DeviceBufferHandle& b : buffers) params.push_back(&b);
    for (uint32_t& w : push) params.push_back(&w);
    bool ok = ops.launchKernel(kernel, 1, 1, 1, 32, 1, 1, 0, 0, params.data(), nullptr, nullptr) == Error::None;
    // On a crowded machine the compile alone can outlast the launch's fence
    // wait. It goes on in lavapipe's queue thread and lands in the cache once
    // it ends: wait for it without a limit, since the cache is all this tool
    // is for.
    if (!ok) {
        std::fputs("warm_pipelines: the first dispatch outlasted the fence wait; waiting for the compile\n", stderr);
        ok = deviceWaitIdle() == VK_SUCCESS;
    }
    for (DeviceBufferHandle b : buffers) ops.memFree(b);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: warm_pipelines KERNEL\n", stderr);
        return 2;
    }
    const char* name = argv[1];
    if (!ensureVulkanContext()) {
        std::fputs("warm_pipelines: bring-up failed\n", stderr);
        return 1;
    }
    for (const KernelSpec& spec : kKernelSpecs) {
        if (std::strcmp(spec.module_name, name) != 0) continue;
        const std::optional<KernelHandle> kernel = getKernelHandle(spec.handle);
        return kernel && *kernel && dispatchOnce(*kernel, spec.binding_count, spec.push_bytes) ? 0 : 1;
    }
    for (const EncodeKernelSpec& spec : kEncodeKernelSpecs) {
        if (std::strcmp(spec.kernel_name, name) != 0) continue;
        // Only this kernel's pipeline (with its specialisation): the encode
        // table as a whole may still lack kernels.
        const EmbeddedModule* module = findKernelModule(spec.module_name);
        KernelHandle pipeline = nullptr;
        return module && buildEncodePipeline(module->bytes, module->size, spec, &pipeline) &&
                       dispatchOnce(pipeline, spec.binding_count, spec.push_bytes)
                   ? 0
                   : 1;
    }
    std::fprintf(stderr, "warm_pipelines: no kernel named %s\n", name);
    return 1;
}
