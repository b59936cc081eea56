#include "vulkan/device/kernel_table.h"

#include <cstdio>

#include "core/platform/platform.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

std::span<const EmbeddedModule> g_test_modules;
bool g_test_modules_set = false;

}  // namespace

std::span<const EmbeddedModule> kernelModules() { return g_test_modules_set ? g_test_modules : embeddedModules(); }

void useKernelModules(std::span<const EmbeddedModule> modules) {
    g_test_modules = modules;
    g_test_modules_set = true;
}

const EmbeddedModule* findKernelModule(std::string_view name) {
    for (const EmbeddedModule& module : kernelModules())
        if (name == module.name) return &module;
    return nullptr;
}

std::optional<KernelHandle> getKernelHandle(DecodeKernelField kernel) {
    const bool ready = ensureVulkanContext();
    const KernelHandle& field = vulkanContext().decode_kernels.*kernel;
    if (ready && field) return field;
    if (envPresent("KVN_FALLBACK_TRACE"))
        std::fprintf(stderr, "[fallback] vk-dec handle@0x%llx unavailable (init %s)\n",
                     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&field)), ready ? "ok" : "FAILED");
    return std::nullopt;
}

}  // namespace kvn
