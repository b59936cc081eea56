// The arguments of the LZ decode kernels in the form the device's kernels
// take: the Vulkan forms (buffers, then push words with the lengths the
// kernels check against) or the CUDA forms (one argument per parameter, the
// chunk count and status cell by address).
#pragma once

#include <cstdint>

#include "pipeline/decode/kernel_call.h"

namespace kvn {

// What every LZ decode launch passes, whatever its kernel and form.
struct LzLaunchArgs {
    DeviceBufferHandle payload;
    DeviceBufferHandle descs;
    uint64_t descs_off;  // the launch's first descriptor, in bytes
    DeviceBufferHandle destination;
    DeviceBufferHandle chunk_count;
    uint64_t chunk_count_off = 0;  // in bytes
    DeviceBufferHandle status;
    uint32_t chunks_per_item;
    uint32_t subchunk_size;
    uint64_t dict_address;
    uint32_t dict_len;
    uint32_t payload_end;
    uint32_t output_length;
};

// kvnLzDecodeRawKernel and kvnLzDecodeRawPipelinedKernel. `leaf_hashes`
// (an address, 0 for none) reaches only the CUDA pipelined form, which
// hashes each decoded chunk into it.
void addRawLzArguments(KernelCall& call, const LzLaunchArgs& a, bool pipelined, uint64_t leaf_hashes);

// The decoded-stream scratch of a general launch: the region base (0 without
// decoded streams), the token and off16 regions' offsets from it, the
// per-chunk first slot index table (from the launch's first chunk, in bytes)
// and the slot offset table.
struct LzScratchArgs {
    uint64_t scratch;
    uint64_t token_off;
    uint64_t off16_off;
    DeviceBufferHandle first_subchunk;
    uint64_t first_subchunk_off;
    DeviceBufferHandle scratch_offsets;
    uint64_t scratch_offsets_off = 0;  // in bytes
};

// kvnLzDecodeKernel.
// BadMode when the off16 region is not at twice the token region's offset,
// where the CUDA form finds it.
Error addGeneralLzArguments(KernelCall& call, const LzLaunchArgs& a, const LzScratchArgs& s);

}  // namespace kvn
