// Loading embedded PTX modules and resolving kernels in them.
#pragma once

#include <span>
#include <string_view>

#include "cuda/device/cuda_api.h"

namespace kvn {

// Room for the loaded modules of one group.
inline constexpr uint32_t kGroupModuleCapacity = 8;

// The loaded modules that together serve one purpose (decode LZ, Huffman, ...).
struct ModuleGroup {
    CuModule modules[kGroupModuleCapacity];
    uint32_t count;
};

// Loads each named embedded module this build carries (a name it does not
// carry is skipped) into `out`; with `load_ex` the driver is asked for line
// information. The driver's result for the first that fails, with `step`
// naming it ("cuModuleLoadData(<name>.ptx)"); 0 when all loaded.
CuResult loadModules(std::span<const std::string_view> names, CuModuleLoadDataFn load, CuModuleLoadDataExFn load_ex,
                     ModuleGroup* out, const char** step);

// Resolves `name` in the first module of the group that has it; the driver's
// last result when none has.
CuResult resolveKernel(const ModuleGroup& group, CuModuleGetFunctionFn get_function, const char* name,
                       CuFunction* out);

}  // namespace kvn
