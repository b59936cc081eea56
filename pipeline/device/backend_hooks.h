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

// How the LZ stage of a frame sizes its launches on this device, asked at
// each frame: the hash bits its kernels use instead of the level's (0: the
// level's), the most blocks of two greedy tables one launch may use given
// one table's bytes, and the sub-chunks per launch the environment forces
// (0: none).
uint32_t lzHashBitsOverride();
uint64_t lzBlockCap(uint64_t table_bytes);
uint32_t lzForcedBatch();

// The most sub-chunks of a level-3-and-up batch whose decoded streams are
// held at once; a batch of more than that many is decoded in windows of at
// most that many (when its streams allow it). `subchunks` or more: whole.
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
