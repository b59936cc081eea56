// Kernel modules compiled into a binary: SPIR-V modules in the Vulkan library,
// PTX text in the CUDA library. The build generates the table (cmake/EmbedModules.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kvn {

struct EmbeddedModule {
    const char* name;      // the module's name: the kernel entry for SPIR-V, the source module for PTX
    const uint8_t* bytes;  // 4-byte aligned
    size_t size;
};

std::span<const EmbeddedModule> embeddedModules();

}  // namespace kvn
