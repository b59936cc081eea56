// Each kernel's parameter table and block shape, as the PTX build expands
// the kernel source's parameter macros, and which table a resolved kernel has.
#pragma once

#include <cstdint>
#include <string_view>

#include "pipeline/device/device_ops.h"

namespace kvn {

struct KernelParams {
    const char* name;
    uint32_t block_x;
    uint32_t block_y;
    uint8_t sync;       // KVN_SYNC_* of the kernel dialect
    const char* kinds;  // per parameter: 'B' buffer, 'A' address (u64 each), 'S' 32-bit scalar
};

// The kernel's sync mode whose blocks run one Vulkan workgroup per warp.
inline constexpr uint8_t kSyncWarps = 2;

// Null when no kernel source has an entry of that name.
const KernelParams* kernelParamsByName(std::string_view name);

// Remembers the table of a kernel resolved by `name` (called by the
// bring-up, which resolves each kernel once); a name without a table is
// remembered as none, and such a kernel cannot be launched.
void rememberKernel(KernelHandle kernel, const char* name);

// The table remembered for a resolved kernel; null for any other handle.
const KernelParams* kernelParamsOf(KernelHandle kernel);

}  // namespace kvn
