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

// A decompress call ended: the whole-decode profile restarts with the next one.
void rearmDecodeProfile();

}  // namespace kvn
