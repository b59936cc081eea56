// The host side of the whole-input decode in one cooperative launch of
// kvnD2dMegaDecodeKernel: the workspace sized from the input, the grid from
// the device's occupancy, the launch on the stream in use, and MegaMeta read
// back once that stream has drained.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "cuda/device/cuda_api.h"

namespace kvn {

// What the kernel reports: the walk's six cells and the sub-chunk total.
struct MegaMeta {
    uint32_t count;          // chunk descriptors
    uint32_t decoded;        // decoded bytes
    uint32_t subchunk_size;  // 131072
    uint32_t payload_base;   // the first frame's block payload, from the input start
    uint32_t payload_len;    // to the end of the last block payload walked
    uint32_t status;         // KVN_WALK_*, 0 on success
    uint32_t subchunks;      // sub-chunks of all chunks
};
static_assert(sizeof(MegaMeta) == 28);

struct MegaDecode {
    uint32_t bytes;
    Error error;     // BadMode when the walk reported a status (meta.status)
    MegaMeta meta;
};

// Decodes the frames of src_len bytes at `src` into `dst`, writing at most
// dst_cap bytes, with the first frame's dictionary (uploaded here). Runs on
// the decoder's stream in use, or its own stream when none is.
MegaDecode decodeMega(CuDevicePtr src, uint32_t src_len, CuDevicePtr dst, DecoderState* decoder, uint32_t dst_cap);

// The sub-chunks an input can hold (each chunk record takes at least 3
// bytes and decodes to at least one byte, each sub-chunk but a chunk's last
// decodes 131072 bytes), and the scratch slots a tile gets for them.
uint64_t megaListSlots(uint32_t src_len, uint32_t dst_cap);
uint64_t megaTileSlots(uint64_t list_slots, uint32_t dst_cap, uint64_t free_bytes, uint64_t held_bytes);

}  // namespace kvn
