#include "cuda/device/module_loading.h"

#include <cstdio>

#include "cuda/device/kernel_table.h"
#include "kernels/embedded_modules.h"

namespace kvn {
namespace {

const EmbeddedModule* findModule(std::string_view name) {
    for (const EmbeddedModule& module : embeddedModules())
        if (name == module.name) return &module;
    return nullptr;
}

// Step names of failed loads outlive the call that reports them.
thread_local char g_step_text[96];

}  // namespace

CuResult loadModules(std::span<const std::string_view> names, CuModuleLoadDataFn load, CuModuleLoadDataExFn load_ex,
                     ModuleGroup* out, const char** step) {
    for (std::string_view name : names) {
        const EmbeddedModule* module = findModule(name);
        if (!module) continue;
        if (out->count == kGroupModuleCapacity) return kCuInvalidValue;
        // The embedded text is followed by a NUL byte, as the driver wants it.
        CuModule loaded = nullptr;
        CuResult result;
        if (load_ex) {
            int option = kCuJitGenerateLineInfo;
            void* value = reinterpret_cast<void*>(uintptr_t{1});
            result = load_ex(&loaded, module->bytes, 1, &option, &value);
        } else {
            result = load(&loaded, module->bytes);
        }
        if (result != kCuSuccess) {
            std::snprintf(g_step_text, sizeof g_step_text, "%s(%.*s.ptx)", load_ex ? "cuModuleLoadDataEx" : "cuModuleLoadData",
                          int(name.size()), name.data());
            *step = g_step_text;
            return result;
        }
        out->modules[out->count++] = loaded;
    }
    return kCuSuccess;
}

CuResult resolveKernel(const ModuleGroup& group, CuModuleGetFunctionFn get_function, const char* name,
                       CuFunction* out) {
    CuResult result = kCuNotFound;
    for (uint32_t i = 0; i < group.count; ++i) {
        CuFunction function = nullptr;
        result = get_function(&function, group.modules[i], name);
        if (result == kCuSuccess && function) {
            rememberKernel(function, name);
            *out = function;
            return kCuSuccess;
        }
        if (result == kCuSuccess) result = kCuNotFound;
    }
    return result;
}

}  // namespace kvn
