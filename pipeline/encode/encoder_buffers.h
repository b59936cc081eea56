// The encoder's device buffers by name: indices into the handle's table of
// growable buffers, and the one way they grow.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "core/errors.h"
#include "core/handle/encoder_state.h"

namespace kvn {

enum EncoderBuffer : uint32_t {
    kOutputBuffer,         // the frame, when the caller gave no device destination
    kInputCopy,            // the frame input, read by the LZ and assembly kernels
    kLzOutput,             // one LZ output slot per sub-chunk
    kDescBuffer,           // CompressChunkDesc per sub-chunk
    kLzSizes,              // u32 LZ size per sub-chunk
    kHashTables,           // the LZ hash tables of one launch; freed after it
    kDiagBuffer,           // LZ diagnostics records (bound, not read, by the greedy kernels)
    kDictBytes,            // the device copy of the dictionary
    kDictTable,            // its position table
    kAssembleRecords,      // AssembleRecord per sub-chunk
    kMeasuredSizes,        // u32 encoded size per sub-chunk
    kAssembledOutput,      // the encoded sub-chunks, packed
    kChunkBodyOffsets,     // frame assembly inputs, one u32 per chunk
    kChunkPayloadLengths,  //
    kChunkRecordOffsets,   //
    kHeadBytes,            // frame header and block header, written before the first chunk
    kMerkleLeaves,         // u32 leaf per chunk of the frame input
    kLeafScratch,          // the leaf hashes before they are placed
    kPlaneSource,          // the element-major input of the byte-plane transform
    kPlaneOutput,          // its plane-major output
    kScanRecords,          // LzStreamScan per sub-chunk
    kHuffJobs,             // HuffEncodeDesc per stream of one batch
    kHuffLengths,          // 256 code lengths (u8) per stream
    kHuffCodes,            // 256 codes (u32) per stream
    kHuffLaneScratch,      // 32 lane areas per stream
    kHuffSizes,            // u32 coded size per stream
    kHuffLiterals,         // the coded streams of each kind
    kHuffTokens,           //
    kHuffOff16,            //
    kWrtText,              // the word transform: the frame text
    kWrtSlots,             // its word table: u32 record index + 1 per slot
    kWrtRecordLengths,     // u32 per record
    kWrtRecordWords,       // 32 bytes per record
    kWrtRecordCounts,      // u32 per record
    kWrtCounters,          // dropped words, reserved records, candidates, overflowed segments
    kWrtCandidateLengths,  // the words worth a code: u32 length,
    kWrtCandidateWords,    // 32-byte word
    kWrtCandidateCounts,   // and u32 count each
    kWrtCodeMap,           // u32 code number per slot
    kWrtCodeLengths,       // the chosen words in code order: u32 length,
    kWrtCodeWords,         // 32-byte word
    kWrtAreas,             // one area per segment
    kWrtEncodedLengths,    // u32 per segment
    kWrtDecodedLengths,    // u32 per segment
    kWrtOffsets,           // u32 output offset per segment
    kWrtTransformed,       // the packed transformed text
    kDestinationPatch,     // host-written bytes of a frame on their way to the device destination
    kChunkTableUpload,     // the chunk-size table on its way into the frame buffer, before the root
    kEncoderBufferCount
};
static_assert(kEncoderBufferCount <= kEncoderDeviceBuffers);

// Grows the buffer to at least `bytes` by freeing it and allocating anew;
// the contents are not kept. OutOfDeviceMemory (or OutOfMemory) when the
// allocation is refused, BackendNotAvailable without the device operations;
// the buffer is then empty.
Error ensureEncodeDeviceBuffer(DeviceBuffer& buffer, uint64_t bytes);

struct BufferRequest {
    DeviceBuffer* buffer;
    uint64_t bytes;
};
// Each in turn; the first error ends the list.
Error ensureEncodeDeviceBuffers(std::initializer_list<BufferRequest> requests);

inline DeviceBuffer& encoderBuffer(EncoderState& encoder, EncoderBuffer which) {
    return encoder.device_buffers[which];
}

// Frees one buffer at once (the hash tables, which only one launch needs).
void freeEncodeDeviceBuffer(DeviceBuffer& buffer);

}  // namespace kvn
