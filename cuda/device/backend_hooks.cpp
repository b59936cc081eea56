// The shared pipelines' hooks, answered by the CUDA device layer.
#include "pipeline/device/backend_hooks.h"

#include "cuda/device/cuda_context.h"
#include "kernels/format_constants.h"

namespace kvn {

bool ensureDevice() { return init(); }

// The driver keeps nothing of the caller's memory between calls.
void releaseHostRange(const void*, uint64_t) {}

// sm_80 reads and writes 16-bit storage.
const char* encodeTraceLabel() { return "enc"; }

bool deviceHasStorage16() { return true; }

// A binding offset is added to the kernel's address argument, and kernels
// read their buffers as words and vectors of up to 16 bytes, which the GPU
// reads only at addresses aligned to their size.
uint64_t deviceBindingAlignment() { return 16; }

// A kernel reaches its buffers through 64-bit addresses; the largest reach
// the pipelines may plan for is the most a 32-bit size field describes.
uint64_t deviceBindingLimit() { return 0xFFFFFFFFull; }

// The device's memory as the driver reports it; 0 when it cannot say.
uint64_t deviceLocalHeapBytes() {
    const GpuOpsTable& ops = gpuOps();
    uint64_t free_bytes = 0, total = 0;
    return ops.memGetInfo && ops.memGetInfo(&free_bytes, &total) == Error::None ? total : 0;
}

// The CUDA encoder sizes frames from the device's memory alone: an
// integrated device's level-5 frames are not held to the smaller cap.
bool deviceIsIntegrated() { return false; }

// The buffer handle is the device pointer.
uint64_t bufferDeviceAddress(DeviceBufferHandle buffer) { return buffer; }

// Up to the decoders' tables: an entropy-coded frame is held to their
// sub-chunk limit by the frame cap.
uint64_t maxCompressedChunks() { return KVN_MAX_CHUNKS_PER_BLOCK; }

// The frame writers check every write against the destination, so a
// destination below the bound that holds the frames takes them.
bool compressNeedsBound() { return false; }

// The root reaches the caller inside the frame the body copies back: the
// host hashes none of the frame's bytes for it.
bool merkleRootWrittenOnDevice() { return true; }

// The PTX modules are the kernels' CUDA forms.
bool kernelsTakeCudaForms() { return true; }

// The Merkle pass runs on the decoder's side stream, on the caller's stream
// too: events order it with whatever stream the batch is on.
SecondStreamForm decodeSecondStreamForm(bool) { return {SecondStreamKind::SideStream, false}; }

const DecodeDiagnostics& decodeDiagnostics() {
    static constexpr DecodeDiagnostics kCuda{
        .tag = "CUDA",
        .call_warnings = false,
        .descriptor_lines = false,
        .merkle_switches = false,
        .stage_timing_lines = false,
        .dump_device_addresses = true,
        .leaf_pass_timed = true,
        .call_total_timing = false,
        .wrt_merkle_line = true,
        .slot_trace = SlotTrace::AllocTrace,
    };
    return kCuda;
}

// The CUDA library keeps no whole-decode profile.
void rearmDecodeProfile() {}

}  // namespace kvn
