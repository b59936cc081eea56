// One batch of compressed chunks (one coded block of a frame) as every decode
// road hands it to the pipeline run, the decoder's device slots that the run
// keeps between calls, and the small helpers every pipeline function uses.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "core/format/chunk_records.h"
#include "core/handle/decoder_state.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

// A growable device buffer of the decoder: {handle, capacity}.
using DeviceSlot = DeviceBuffer;

struct DecodeBatch {
    const KvnChunkDesc* host_descs = nullptr;
    uint64_t chunk_count = 0;
    const uint8_t* host_payload = nullptr;
    uint64_t payload_len = 0;  // chunk records and, at the tail, the chunk-prefix area
    uint8_t* host_out = nullptr;  // the frame's first decoded byte (host output)
    uint64_t out_off = 0;         // decoded bytes of earlier blocks: the batch's LZ history
    uint64_t out_len = 0;         // bytes this batch decodes
    DeviceBufferHandle dev_out = 0;
    bool out_on_device = false;
    DeviceBufferHandle dev_payload = 0;
    bool payload_on_device = false;
    uint64_t dev_payload_off = 0;
    DeviceBufferHandle dev_descs = 0;
    bool descs_on_device = false;
    DeviceBufferHandle dev_chunk_count = 0;
    bool chunk_count_on_device = false;
    uint64_t sc_table_off = 0;  // chunk-prefix area in the payload; 0 = none
    int32_t* verdict_dst = nullptr;
    DeviceBufferHandle dict_buf = 0;
    uint32_t dict_len = 0;
    uint32_t chunks_per_item = 1;
    uint32_t subchunk_size = 0x20000;
    // The frame's chunks exceed 65536 bytes: on CUDA the pipelined raw
    // kernel's Big form decodes them.
    bool large_chunks = false;
    // Device Merkle: leaves this batch hashes (0 = none), the first of them,
    // the frame's total, the leaf size and the stored root.
    uint32_t merkle_leaves = 0;
    uint32_t leaf_off = 0;
    uint32_t leaf_total = 0;
    uint32_t merkle_chunk_size = 0;
    uint32_t expected_root = 0;
    uint8_t level_code = 1;
    bool last_batch = false;  // completes the frame's leaves: compute the verdict
};

// The decoder's device slots by index into DecoderState::device_slots.
enum DecodeSlot : uint32_t {
    kOutSlot,
    kPayloadSlot,
    kDescSlot,
    kSubchunkStarts,
    kSubchunkTotal,
    kEntropyScratch,
    kChunkCountCell,
    kScanLists,
    kScanChunkCount,
    kHuffList0,
    kHuffList1,
    kHuffList2,
    kHuffList3,
    kOff16List,
    kDescCounters,
    kMergedDescs,
    kHuffLuts,
    kLzDiag,
    kSegHashes,
    kChunkHashes,
    kVerdictDev,
    kBytePlaneScratch,
    kLzStatus,  // the LZ kernels' KVN_LZ_STATUS_* bits
    kScratchOffsets,  // u32 start of each sub-chunk's scratch slot, then the region size
    kWrtTransformed,  // a WRT frame's transformed text
    kWrtOutput,       // its untransformed text, for a host output
    kWrtMeta,         // segment and word tables of the GPU inverse
    kWindowTables,    // each window's chunk count, descriptors, first slots and slot starts
    kWalkDescs,       // descriptors a device frame walk wrote
    kWalkMeta,        // the walk's six result cells
    kLeapControl,     // the leap walk's control block
    kFrameIn,         // a later frame of device input, copied to offset 0
    kFrameOut,        // its decoded bytes (or a frame's planes) before they reach the caller
    kContentHashCell,  // the device content checksum's verdict and lanes between passes
    kDecodeSlotCount
};
static_assert(kDecodeSlotCount <= kDecoderDeviceSlots);

// Sizes and offsets of the slots the launchers share.
inline constexpr uint64_t kSubchunkScratchBytes = KVN_SUBCHUNK_SIZE;  // the most a slot holds in each region
// Descriptors a device walk wrote, which the host does not read (a batch
// without decoded streams): their batch counts, for each chunk, the
// sub-chunks of the largest chunk (256 KiB).
inline uint64_t deviceDescSubchunkBound(uint64_t chunks, uint64_t subchunk_size) {
    return subchunk_size == 0 ? 4 * chunks : chunks * std::max<uint64_t>(1, (0x40000 + subchunk_size - 1) / subchunk_size);
}
inline constexpr uint64_t kSubchunkStartsBytes = 0x40000;   // 65536 chunks
inline constexpr uint64_t kHuffListEntryBytes = 20;   // a compacted Huffman descriptor
inline constexpr uint64_t kOff16ListEntryBytes = 12;  // a compacted stored off16 half
inline constexpr uint64_t kDescCounterBytes = KVN_DESC_COUNTER_BYTES;
// Byte offset of descriptor counter `cell` (a KVN_SCAN_LIST_* list,
// KVN_DESC_COUNTER_RAW or KVN_DESC_COUNTER_MERGED) in the counter slot: a
// 256-byte cell each on Vulkan (bindable on its own), consecutive words in
// the CUDA forms.
uint64_t descCounterAt(uint32_t cell);
inline constexpr uint64_t kHuffDescBytes = KVN_SCAN_HUFF_DESC_BYTES;
inline constexpr uint64_t kHuffLutBytes = KVN_HUFF_LUT_BYTES;
inline constexpr uint64_t kLzDiagBytes = 40960;
inline constexpr uint64_t kMaxBatchChunks = KVN_MAX_CHUNKS_PER_BLOCK;
inline constexpr uint64_t kMaxHuffmanSubchunks = 0x7FFF;
// The largest chunk of a batch that is not DecodeBatch::large_chunks.
inline constexpr uint64_t kPipelinedRawChunkLimit = 65536;

// The working values of one run, shared with the launchers.
struct BatchBuffers {
    DeviceBufferHandle payload_buf = 0;
    uint64_t payload_buf_off = 0;
    DeviceBufferHandle desc_buf = 0;
    uint64_t subchunks = 0;         // n
    // Some chunk holds sub-chunks whose streams may be entropy-coded: false
    // when host descriptors show only stored, byte-fill or empty chunks, which
    // then get no Huffman stage and no decoded-stream scratch. With host
    // descriptors at level 3 and up, n counts only such chunks' sub-chunks
    // and one spare slot.
    bool entropy_coded = true;
    // Each of the three decoded-stream regions (literals, tokens, off16
    // bytes) is tok_region_off bytes: the sum of the sub-chunks' slots.
    uint64_t tok_region_off = 0;
    uint64_t off16_region_off = 0;  // twice tok_region_off
    uint64_t second_slot_off = 0;   // where slot 1 starts in each region (for the stage dumps)
    // Host-numbered slots: the slot starts as uploaded, each chunk's first
    // slot, and how many of the slots belong to coded sub-chunks (the spare
    // one follows them).
    std::vector<uint32_t> slot_starts;
    std::vector<uint32_t> chunk_slots;
    uint64_t coded_slots = 0;
    // Sub-chunks whose streams the device holds at once (batchWindowCap);
    // below `subchunks` the batch may go in windows (batch_windows.h). Only
    // batches with decoded streams have a cap.
    uint64_t batch_cap = UINT64_MAX;
};

// The bytes of a decoded-stream slot in each region for a coded sub-chunk of
// `decoded` bytes: no stream it can use holds more symbols (literals and
// tokens at most one per byte, each off16 half at most one entry per three
// bytes), rounded to 16 and capped at the full slot.
inline uint64_t streamSlotBytes(uint64_t decoded) {
    const uint64_t rounded = (decoded + 15) & ~uint64_t{15};
    return rounded < kSubchunkScratchBytes ? rounded : kSubchunkScratchBytes;
}

// Grows a device buffer to at least `bytes` by freeing it and allocating
// anew (contents are not kept). A failed growth leaves it empty.
Error ensureDeviceSlot(DeviceSlot& slot, uint64_t bytes);
inline Error ensureDeviceSlot(DecoderState& decoder, DecodeSlot slot, uint64_t bytes) {
    return ensureDeviceSlot(decoder.device_slots[slot], bytes);
}
inline DeviceBufferHandle slotHandle(const DecoderState& decoder, DecodeSlot slot) {
    return decoder.device_slots[slot].handle;
}

// An operation's result, with a warning line for a failure. A failure without
// a cause of its own (DeviceCallFailed) is named by its kind.
Error checkCopy(Error result);
Error checkLaunch(Error result);
Error checkSync(Error result);

// streamComputeBarrier on `stream` when the operation exists.
Error computeBarrier(StreamHandle stream);

}  // namespace kvn
