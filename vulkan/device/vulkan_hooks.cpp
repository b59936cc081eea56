// The shared pipelines' hooks, answered by the Vulkan device layer.
#include "pipeline/device/backend_hooks.h"

#include <algorithm>

#include "core/encode/frame_geometry.h"
#include "core/encode/lz_batch_plan.h"
#include "core/platform/platform.h"
#include "pipeline/decode/device_frame_decode.h"
#include "pipeline/decode/device_mega.h"
#include "vulkan/device/host_import.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

constexpr uint64_t kCpuLzLaunchBytes = 4ull << 20;

}  // namespace

bool ensureDevice() { return ensureVulkanContext(); }

void releaseHostRange(const void* base, uint64_t bytes) { releaseHostImports(base, bytes); }

const char* encodeTraceLabel() { return "vk-enc"; }

bool deviceHasStorage16() { return vulkanContext().storage_16bit; }

uint64_t deviceBindingAlignment() { return vulkanContext().min_storage_buffer_offset_alignment; }

uint64_t deviceBindingLimit() {
    // A limit of 0 counts as 0xFFFFFFFF.
    const uint64_t range = vulkanContext().max_storage_buffer_range;
    return range ? range : 0xFFFFFFFFull;
}

uint64_t deviceLocalHeapBytes() {
    const VkPhysicalDeviceMemoryProperties& memory = vulkanContext().memory_properties;
    uint64_t largest = 0;
    for (uint32_t i = 0; i < memory.memoryHeapCount && i < VK_MAX_MEMORY_HEAPS; ++i) {
        const VkMemoryHeap& heap = memory.memoryHeaps[i];
        if ((heap.flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT) && heap.size > largest) largest = heap.size;
    }
    return largest;
}

bool deviceIsIntegrated() { return vulkanContext().device_type == VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU; }

bool kernelsTakeCudaForms() { return false; }

uint64_t maxCompressedChunks() { return kMaxCompressedChunks; }

bool compressNeedsBound() { return true; }

// The trailer step folds the body's leaves into the root on the host.
bool merkleRootWrittenOnDevice() { return false; }

uint32_t lzHashBitsOverride() { return 0; }

// The Vulkan library times its kernels through timing records only.
void reportLzStageTimes(int32_t, double, double) {}
void reportHuffmanBatch(uint64_t, uint32_t, const double (&)[kHuffBatchPhases]) {}

// Nor does it report on the LZ output, audit the sort workspace or dump
// the coded streams.
bool lzOutputReportsWanted(int32_t) { return false; }
void reportLzOutput(const CompressChunkDesc*, const uint32_t*, uint64_t, const uint8_t*, uint32_t, int32_t) {}

Error auditSortPrepass(const SortAuditBatch&) { return Error::None; }
void dumpCodedStreams(DeviceBufferHandle, uint64_t, const HuffEncodeDesc*, const uint32_t*, uint64_t, uint32_t) {}

// Its phase switch, KVN_VK_PROFILE_PHASES, reports the device's transfer
// setup instead; the encoder keeps no phase times.
bool encodePhaseProfileWanted() { return false; }

const char* minDistIgnoredNotice() {
    return "warning: korvane_vk: min-dist floor ignored on this encode (dictionary or serial-chain path has no floor "
           "gates)";
}

// Vulkan offers no persisting cache window.
bool openLzTableWindow(StreamHandle, DeviceBufferHandle, uint64_t) { return false; }
void closeLzTableWindow(StreamHandle) {}

// The greedy tables of a launch stay within about 9 MB, at least 170 pairs.
uint64_t lzBlockCap(uint64_t table_bytes) { return std::max<uint64_t>(0x8CCCCCu / table_bytes, 170); }

uint32_t lzForcedBatch() { return forcedLzBatch(); }

// A device that runs on the processor works through a launch's groups a few
// at a time: a frame's LZ launches there cover a few MiB each, every one of
// them seconds long, where one launch over a frame of the default cap could
// outlast the fence wait on a busy machine. A GPU parses a frame in
// milliseconds and takes it in one launch.
uint64_t lzLaunchInputBytes() {
    return vulkanContext().device_type == VK_PHYSICAL_DEVICE_TYPE_CPU ? kCpuLzLaunchBytes : 0;
}

// The memory sets no cap: a batch's scratch is sized to its own streams.
uint64_t decodeBatchCap(uint64_t subchunks) { return subchunks; }

// The auxiliary command buffers belong to a stream that the decode records
// whole: a caller's stream may hold the caller's own work after the batch.
SecondStreamForm decodeSecondStreamForm(bool own_stream) {
    if (!own_stream || envPresent("KVN_VK_NO_AUX")) return {};
    return {SecondStreamKind::AuxPart, !envPresent("KVN_VK_NO_AUX_D2H")};
}

const DecodeDiagnostics& decodeDiagnostics() {
    static constexpr DecodeDiagnostics kVulkan{
        .tag = "VK",
        .call_warnings = true,
        .descriptor_lines = true,
        .merkle_switches = true,
        .stage_timing_lines = true,
        .dump_device_addresses = false,
        .leaf_pass_timed = false,
        .call_total_timing = true,
        .wrt_merkle_line = false,
        .slot_trace = SlotTrace::InitDebug,
    };
    return kVulkan;
}

void rearmDecodeProfile() {
    VulkanContext& ctx = vulkanContext();
    if (!ctx.decode_profiling) return;
    ctx.profile_start_stamped = false;
    ctx.profile_end_stamped = false;
}

// No cooperative launch: the whole-input road runs its dispatches.
Error decodeInOneLaunch(const DeviceDecompressJob&, DecoderState&, uint64_t, bool* decoded) {
    *decoded = false;
    return Error::None;
}

void reportWalkStatus(uint32_t, uint64_t, uint64_t) {}

}  // namespace kvn
