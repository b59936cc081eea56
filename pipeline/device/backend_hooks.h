// What each library's device layer supplies to the shared pipelines besides
// the operations table. Each shared library links exactly one definition.
#pragma once

#include <cstdint>

#include "pipeline/device/device_ops.h"

namespace kvn {

// Brings the device up once per process; true when it is ready (now or from
// an earlier call). A failure is permanent.
bool ensureDevice();

// The caller's range [base, base + bytes) is about to be reused or given
// back: the device layer forgets whatever it keeps of it.
void releaseHostRange(const void* base, uint64_t bytes);

// What the pipelines may ask of the device once it is up.
bool deviceHasStorage16();              // kernels may read and write 16-bit storage
uint64_t deviceBindingAlignment();      // a binding offset is a multiple of this
uint64_t deviceBindingLimit();          // the most bytes one binding reaches
// The largest device-local memory heap in bytes (0 when unknown), and whether
// the device is an integrated GPU; they size the frames of a compress call.
uint64_t deviceLocalHeapBytes();
bool deviceIsIntegrated();
// The buffer's device address, for kernels that follow addresses; 0 for no buffer.
uint64_t bufferDeviceAddress(DeviceBufferHandle buffer);

// How this library names its encode pipelines in the KVN_FALLBACK_TRACE line.
const char* encodeTraceLabel();

// The kernels take their CUDA parameter tables: the entries whose CUDA form
// differs from their Vulkan form (LZ decode, Huffman stream decode, stored
// off16 gather) get the CUDA arguments, the descriptor counters are
// consecutive words, and each Huffman table keeps its own slot.
bool kernelsTakeCudaForms();

// The most chunks of a frame this library compresses rather than stores
// (at most the decoders' 65,536), and whether a compress call's destination
// must hold the compress bound (else the frame writers refuse only what
// does not fit).
uint64_t maxCompressedChunks();
bool compressNeedsBound();

// Whether the body writes the frame's Merkle root into the frame on the
// device, from the leaves it hashed, rather than the trailer step on the host.
bool merkleRootWrittenOnDevice();

// How the LZ stage of a frame sizes its launches on this device, asked at
// each frame: the hash bits its kernels use instead of the level's (0: the
// level's), the most blocks of two greedy tables one launch may use given
// one table's bytes, and the sub-chunks per launch the environment forces
// (0: none).
uint32_t lzHashBitsOverride();
uint64_t lzBlockCap(uint64_t table_bytes);
uint32_t lzForcedBatch();
// The most frame input one LZ launch parses on this device (0: the whole
// frame), so that each launch stays well inside the host's wait for it.
uint64_t lzLaunchInputBytes();

// While a frame's greedy LZ launches run on `stream`, a device that can may
// keep their hash tables (`bytes` of `tables`) in a persisting part of its
// cache; true when such a window was set up, which closeLzTableWindow then
// closes.
bool openLzTableWindow(StreamHandle stream, DeviceBufferHandle tables, uint64_t bytes);
void closeLzTableWindow(StreamHandle stream);

// The encoder's measurements, which a library that reports them prints when
// its variables ask for them: a frame's LZ stage (milliseconds from its start
// to its first launch, and of its launches with their synchronisations), and
// one Huffman batch (its streams, their largest symbol count, and the
// milliseconds of growing its buffers, uploading its jobs, launching, waiting
// for the kernels and reading the sizes back).
void reportLzStageTimes(int32_t level, double upload_ms, double launch_ms);
inline constexpr uint32_t kHuffBatchPhases = 5;
void reportHuffmanBatch(uint64_t streams, uint32_t largest_count, const double (&phase_ms)[kHuffBatchPhases]);

// Whether this library reports on the LZ output of a frame at `level`
// whose LZ stage ran as one batch, and the report, over the host copy of
// that output (each sub-chunk's LZ bytes at its descriptor's output offset)
// with the frame's minimum-distance floor.
bool lzOutputReportsWanted(int32_t level);
struct CompressChunkDesc;  // core/encode/chunk_descriptors.h
void reportLzOutput(const CompressChunkDesc* descs, const uint32_t* lz_sizes, uint64_t count, const uint8_t* lz_copy,
                    uint32_t floor, int32_t level);

// Whether the body encoder keeps per-phase host times (phase_clock.h);
// asked once per process.
bool encodePhaseProfileWanted();

// The line printed the first time in the process that a frame's parse
// cannot keep a requested minimum distance above 8.
const char* minDistIgnoredNotice();

// After a Huffman batch coded its jobs (with these coded sizes), a library
// that dumps the coded streams reads their symbols from the LZ output area
// (`lz_output_bytes` at `lz_output`). `kind` is the batch's HuffStreamKind:
// literal, token or off16 (the high-byte jobs, then the low-byte ones).
struct HuffEncodeDesc;  // core/format/chunk_records.h
void dumpCodedStreams(DeviceBufferHandle lz_output, uint64_t lz_output_bytes, const HuffEncodeDesc* jobs,
                      const uint32_t* sizes, uint64_t count, uint32_t kind);

// After the sort-parse pre-passes of an LZ batch, a library that audits
// them checks each sub-chunk's sorted keys and candidate tables in
// `workspace` (one region per sub-chunk of the batch) against its bytes in
// `input`; a batch that does not pass fails the frame's LZ stage.
struct SortAuditBatch {
    DeviceBufferHandle workspace, input;
    const CompressChunkDesc* descs;  // the batch's
    uint64_t start, count;           // the batch's first sub-chunk in the frame, its sub-chunks
};
Error auditSortPrepass(const SortAuditBatch& batch);

// The most sub-chunks of a level-3-and-up batch of more than 256 whose
// decoded streams the device's memory holds at once (batchWindowCap,
// pipeline/decode/batch_windows.h, asks it). `subchunks` or more: whole.
uint64_t decodeBatchCap(uint64_t subchunks);

// Where a decode batch's Merkle pass runs while its output is copied back:
// on the batch's stream after it (None); on the auxiliary part of the
// batch's own stream, entered by streamSwitchToAux, where everything queued
// afterwards runs after what was queued before (AuxPart); or on a stream of
// its own, ordered with the batch's stream by events (SideStream). With
// `dedicated_copy` the copy-out takes memcpyDtoHXferAsync.
enum class SecondStreamKind { None, AuxPart, SideStream };
struct SecondStreamForm {
    SecondStreamKind kind = SecondStreamKind::None;
    bool dedicated_copy = false;
};
// Asked at each batch; `own_stream`: the batch runs on the decoder's own stream.
SecondStreamForm decodeSecondStreamForm(bool own_stream);

// How this library's decode diagnostics read. Slot growth is traced under
// KVN_VK_INIT_DEBUG ("[vk-alloc]" lines) or under KVN_ALLOC_TRACE
// ("[alloc-trace]" lines, with a "[dispatch-trace]" line for each batch).
enum class SlotTrace { InitDebug, AllocTrace };
struct DecodeDiagnostics {
    const char* tag;             // names the library in the dump lines: "KVN_DUMP_LIT1[<tag>]: ..."
    bool call_warnings;          // a failed copy, launch or synchronisation prints a warning line
    bool descriptor_lines;       // KVN_DUMP_MERKLE also lists each coded block's chunk descriptors
    // The Merkle check's switches are read: KVN_NO_DEVICE_MERKLE (the check on
    // the host), KVN_SKIP_MERKLE (a mismatch passes) and KVN_VK_MERKLE_DEBUG
    // (the device's leaves compared with the host's).
    bool merkle_switches;
    bool stage_timing_lines;     // KVN_SPLIT_TIMER and KVN_WRT_DEBUG print the stages' times
    bool dump_device_addresses;  // KVN_DUMP_TOK1 names the device address it read, not the slot offset
    bool leaf_pass_timed;        // the Merkle leaf pass is a timed launch ("kvnSegHashKernel")
    bool call_total_timing;      // a host decode's timings are one "multi-frame total" (else the last frame's kernels)
    bool wrt_merkle_line;        // KVN_WRT_DEBUG prints a WRT frame's device Merkle verdict ("[wrt-merkle]")
    SlotTrace slot_trace;
};
const DecodeDiagnostics& decodeDiagnostics();

// A decompress call ended: the whole-decode profile restarts with the next one.
void rearmDecodeProfile();

}  // namespace kvn
