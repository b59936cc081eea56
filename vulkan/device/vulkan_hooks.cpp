// The shared pipelines' hooks, answered by the Vulkan device layer.
#include "pipeline/device/backend_hooks.h"

#include <algorithm>

#include "core/encode/frame_geometry.h"
#include "core/encode/lz_batch_plan.h"
#include "core/platform/platform.h"
#include "vulkan/device/host_import.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

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

// Nor does it report on the LZ output.
bool lzOutputReportsWanted(int32_t) { return false; }
void reportLzOutput(const CompressChunkDesc*, const uint32_t*, uint64_t, const uint8_t*, uint32_t, int32_t) {}

// Vulkan offers no persisting cache window.
bool openLzTableWindow(StreamHandle, DeviceBufferHandle, uint64_t) { return false; }
void closeLzTableWindow(StreamHandle) {}

// The greedy tables of a launch stay within about 9 MB, at least 170 pairs.
uint64_t lzBlockCap(uint64_t table_bytes) { return std::max<uint64_t>(0x8CCCCCu / table_bytes, 170); }

uint32_t lzForcedBatch() { return forcedLzBatch(); }

// The memory sets no cap: a batch's scratch is sized to its own streams.
uint64_t decodeBatchCap(uint64_t subchunks) { return subchunks; }

// The auxiliary command buffers belong to a stream that the decode records
// whole: a caller's stream may hold the caller's own work after the batch.
SecondStreamForm decodeSecondStreamForm(bool own_stream) {
    if (!own_stream || envPresent("KVN_VK_NO_AUX")) return {};
    return {SecondStreamKind::AuxPart, !envPresent("KVN_VK_NO_AUX_D2H")};
}

void rearmDecodeProfile() {
    VulkanContext& ctx = vulkanContext();
    if (!ctx.decode_profiling) return;
    ctx.profile_start_stamped = false;
    ctx.profile_end_stamped = false;
}

}  // namespace kvn
