// The kernel modules the Vulkan library builds its pipelines from.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "kernels/embedded_modules.h"
#include "pipeline/decode/decode_kernels.h"

namespace kvn {

// The modules bring-up builds from: the embedded table, unless a test put
// its own in place (before the first bring-up).
std::span<const EmbeddedModule> kernelModules();
void useKernelModules(std::span<const EmbeddedModule> modules);
// The module embedded under `name`, or null.
const EmbeddedModule* findKernelModule(std::string_view name);

}  // namespace kvn
