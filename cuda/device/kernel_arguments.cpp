#include "cuda/device/kernel_arguments.h"

#include <cstring>

namespace kvn {

Error buildCudaArguments(const KernelParams& table, uint32_t workgroups, void* const* params,
                         const LaunchArgCounts& counts, const uint64_t* binding_offsets, CudaArguments* out) {
    uint32_t buffer = 0;
    uint32_t word = 0;
    uint32_t at = 0;
    const auto nextWord = [&](uint32_t* value) {
        if (word == counts.words) return false;
        std::memcpy(value, params[counts.buffers + word++], 4);
        return true;
    };
    for (const char* kind = table.kinds; *kind; ++kind) {
        if (at == kMaxCudaArguments) return Error::BadRequest;
        uint64_t value = 0;
        if (*kind == 'B') {
            if (buffer == counts.buffers) return Error::BadRequest;
            std::memcpy(&value, params[buffer], 8);
            // No buffer plus an offset would be a wild address.
            const uint64_t offset = binding_offsets ? binding_offsets[buffer] : 0;
            if (value == 0 && offset != 0) return Error::BadRequest;
            value += offset;
            ++buffer;
        } else if (*kind == 'A') {
            // An address travels as two words, low first.
            uint32_t low = 0, high = 0;
            if (!nextWord(&low) || !nextWord(&high)) return Error::BadRequest;
            value = uint64_t{high} << 32 | low;
        } else {
            uint32_t scalar = 0;
            if (!nextWord(&scalar)) return Error::BadRequest;
            value = scalar;
        }
        out->values[at] = value;
        out->pointers[at] = &out->values[at];
        ++at;
    }
    if (buffer != counts.buffers || word != counts.words) return Error::BadRequest;
    // A warp kernel's Vulkan block is one workgroup per warp.
    const uint32_t threads = table.block_x * table.block_y;
    const uint32_t per_block = table.sync == kSyncWarps ? threads / 32 : 1;
    if (per_block == 0 || workgroups % per_block != 0) return Error::BadRequest;
    out->grid_x = workgroups / per_block;
    out->block_x = table.block_x;
    out->block_y = table.block_y;
    out->count = at;
    return Error::None;
}

}  // namespace kvn
