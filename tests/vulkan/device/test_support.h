// Shared pieces of the device-layer tests.
#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "kernels/embedded_modules.h"
#include "tests/support/child_process.h"
#include "tests/support/real_bytes.h"
#include "tests/support/scratch_folder.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/kernel_table.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn::test {

// Before the bring-up: the test program's modules without `left_out`, so
// that those kernels are not built.
inline void useModulesWithout(std::initializer_list<std::string_view> left_out) {
    static std::vector<EmbeddedModule> modules;
    modules.clear();
    for (const EmbeddedModule& m : embeddedModules()) {
        bool keep = true;
        for (std::string_view name : left_out) keep = keep && name != m.name;
        if (keep) modules.push_back(m);
    }
    useKernelModules(modules);
}


// Whether a shared object whose path contains `name` is mapped into this process.
inline bool libraryLoaded(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(name) != std::string::npos) return true;
    return false;
}

inline bool underValidationLayer() {
    const char* layers = std::getenv("VK_INSTANCE_LAYERS");
    return layers && std::string(layers).find("VK_LAYER_KHRONOS_validation") != std::string::npos;
}

// The table as before any bring-up: only the two context slots are filled.
inline void expectOnlyContextSlots() {
    const GpuOpsTable& ops = gpuOps();
    const auto* slots = reinterpret_cast<void* const*>(&ops);
    for (int i = 0; i < 33; ++i) {
        if (i != 20 && i != 21) {
            EXPECT_EQ(slots[i], nullptr) << "slot " << i;
        }
    }
    EXPECT_NE(ops.ctxSetCurrent, nullptr);
    EXPECT_NE(ops.ctxGetCurrent, nullptr);
    EXPECT_EQ(ops.timestamp_period, 1.0f);
}

// The operations table after bring-up; for bodies run by inChildProcess.
// A failed bring-up ends the child at once: its table is empty.
inline const GpuOpsTable& readyOps() {
    if (!ensureVulkanContext()) {
        std::fputs("bring-up failed\n", stderr);
        std::_Exit(1);
    }
    return gpuOps();
}

// Launches a kernel built from add_words.comp (dst[i] = src[i] + add for
// i < count; two bindings, then count and add as push constants), one
// workgroup per 32 words.
inline Error launchAddWords(KernelHandle kernel, uint64_t src, uint64_t dst, uint32_t count, uint32_t add,
                              StreamHandle stream, const uint64_t* offsets = nullptr) {
    uint32_t pad = 0;
    void* params[] = {&src, &dst, &count, &add, &pad};
    return gpuOps().launchKernel(kernel, (count + 31) / 32, 1, 1, 32, 1, 1, 0, stream, params, nullptr, offsets);
}

}  // namespace kvn::test
