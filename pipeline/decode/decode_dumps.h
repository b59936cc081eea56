// Diagnostic lines and dump files of the decode roads, each switched on by
// an environment variable. None changes a decode's result, except that the
// Merkle comparison can run out of memory.
#pragma once

#include <cstdint>
#include <span>

#include "core/errors.h"
#include "core/format/chunk_records.h"
#include "pipeline/decode/decode_batch.h"

namespace kvn {

struct DumpCopy {
    Error error;   // the dump could not be made at all (missing operation, no host buffer)
    Error copied;  // the copy's result; None when the file was written
};

// Synchronises the stream, copies `bytes` of a slot from `offset` and writes
// them to `path`.
DumpCopy copySlotToFile(DecoderState& decoder, StreamHandle stream, DecodeSlot slot, uint64_t offset,
                        uint64_t bytes, const char* path);

// The KVN_DIAG_DUMP text file of the general LZ launch.
Error writeLzDiagnostics(DecoderState& decoder, StreamHandle stream, const char* path);

// KVN_DUMP_MERKLE and KVN_DUMP_CHUNK1 for one coded block's descriptors.
void dumpBlockChunks(std::span<const KvnChunkDesc> descs, std::span<const uint8_t> payload);

// KVN_DUMP_MERKLE_INPUT: the decoded bytes to a file, with the tail of its line.
void dumpMerkleInput(const uint8_t* out, uint64_t bytes, const char* what, uint32_t value, uint32_t expected);

// KVN_DUMP_MERKLE after the CPU Merkle check.
void dumpCpuMerkle(const uint8_t* out, uint64_t bytes, uint64_t chunk_size, uint32_t computed, uint32_t expected);

// KVN_VK_MERKLE_DEBUG, in a library that offers it: the host's segment
// hashes against the device leaf array. OutOfMemory when the host arrays
// cannot be had.
Error compareDeviceLeaves(DecoderState& decoder, const uint8_t* out, uint64_t bytes, uint64_t chunk_size,
                          int32_t verdict, uint32_t expected);

// The segment hash of a chunk: XXH32 over the XXH32 of its 1024-byte segments.
uint32_t chunkSegmentHash(const uint8_t* bytes, uint64_t len);

}  // namespace kvn
