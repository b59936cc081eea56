// The LZ stage of a decode batch: picks the general or the raw kernel and
// launches it, with the destination fill and the stage dumps that
// environment variables ask for.
#pragma once

#include <cstdint>
#include <optional>

#include "core/errors.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/lz_launch_forms.h"

namespace kvn {

struct LzDispatch {
    uint32_t chunks_per_item;
    uint32_t subchunk_size;
    bool large_chunks;         // DecodeBatch::large_chunks
    uint32_t huffman_streams;  // S: 0 when the batch has no decoded streams
    uint32_t chunk_count;
    // The batch's descriptors when the host has them (the count is then
    // exact): a walk of the whole batch by one work item goes in windows.
    const KvnChunkDesc* host_descs;
    bool split_timer;
    DeviceBufferHandle chunk_count_buf;
    DeviceBufferHandle destination;
    DeviceBufferHandle status;  // the KVN_LZ_STATUS_* cell, zeroed before the launch
    // The batch's output range in the destination, for KVN_FILL_DST.
    uint64_t destination_off;
    uint64_t destination_bytes;
    uint32_t output_length;      // bytes the kernels may write: history plus batch
    uint32_t payload_end;
    uint64_t dict_address;
    uint32_t dict_len;
    // Where the CUDA pipelined raw kernel may put each chunk's Merkle leaf
    // (index = chunk of the batch); 0: nowhere.
    uint64_t leaf_hashes = 0;
};

struct LzResult {
    uint64_t nanoseconds;  // the stage's host time when the split timer measured it
    Error error;
    bool leaves_hashed = false;  // the kernel wrote the leaves to LzDispatch::leaf_hashes
};

// The LZ kernel of a batch's launches and the label its timing carries.
struct LzKernelChoice {
    KernelHandle kernel;
    const char* label;
    bool pipelined_raw;  // the pipelined raw forms: the leaf-hash argument, and on CUDA the leaves
};

// Workgroups for `items` work items: warp kernels count warps in blocks of
// two, the pipelined forms one block of four warps per item; both round to
// an even count.
inline uint32_t lzWorkgroups(uint32_t items) { return (items + 1) & ~1u; }

// The kernel for batches without decoded streams: on CUDA the pipelined
// raw kernel unless KVN_NO_PIPELINE is set (its Big form for large chunks), on Vulkan with KVN_VK_PIPELINE, else kvnLzDecodeRawKernel;
// empty when that is not built either.
std::optional<LzKernelChoice> rawLzKernel(bool large_chunks);
// The kernel that reads decoded streams: on CUDA its pipelined form unless
// KVN_NO_PIPELINE is set, else kvnLzDecodeKernel; empty when not built.
std::optional<LzKernelChoice> generalLzKernel();

// The arguments every LZ launch of the batch shares (the launch's first
// descriptor and chunks per item still to set).
LzLaunchArgs lzLaunchArgs(const BatchBuffers& batch, const LzDispatch& lz);

LzResult dispatchLzDecode(DecoderState& decoder, const BatchBuffers& batch, StreamHandle stream,
                          const LzDispatch& lz);

// The error for the status bits the LZ kernels reported: a loop cut short
// (the device could not finish a valid frame) or output the frame's data left
// unwritten (a corrupt frame); None for 0.
Error lzStatusError(uint32_t status);

// The value of KVN_FILL_DST as a byte (0x, 0o and 0b prefixes or decimal);
// 0xAA when it does not parse.
uint8_t fillByteFromText(const char* text);

}  // namespace kvn
