// The process-wide Vulkan state: created once by ensureVulkanContext and kept
// until the process ends. Besides the operations table, the pipelines read a
// few of these values directly (the device, the registry, kernel handles,
// memory properties, limits, the query pool).
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "core/platform/platform.h"
#include "vulkan/device/kernel_table.h"
#include "vulkan/device/memory_allocator.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/vulkan_functions.h"

namespace kvn {

enum class ContextState : uint8_t { None = 0, Running = 1, Ready = 2, Failed = 3 };

// A host-visible buffer kept mapped for copies through the host.
struct StagingBuffer {
    VkBuffer buffer = VK_NULL_HANDLE;
    VmaAllocation allocation = VK_NULL_HANDLE;
    void* mapped = nullptr;
    uint64_t capacity = 0;
};

// One device buffer; DeviceBufferHandle = index + 1.
struct DeviceBufferEntry {
    VkBuffer buffer = VK_NULL_HANDLE;
    VmaAllocation allocation = VK_NULL_HANDLE;
    uint64_t size = 0;  // requested bytes rounded up to 4
    uint8_t live = 0;
};

// Pages handed out by memAllocHost; only these may be imported.
struct HostAllocation {
    void* pointer = nullptr;
    uint64_t size = 0;  // rounded up to 4096
};

// One cached import of host pages as device-visible memory.
struct HostImportSlot {
    uint64_t base = 0;
    uint64_t size = 0;
    VkBuffer buffer = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    uint64_t last_use = 0;
    uint8_t in_use = 0;
    uint8_t direction = 0;  // 1: host-to-device source, 0: device-to-host destination
    uint8_t valid = 0;
    // The host range was given back while a copy still used the import: it
    // is never reused and is destroyed when unpinned.
    uint8_t stale = 0;
};

inline constexpr uint32_t kHostImportSlots = 16;

// A compute pipeline with its layouts.
struct KernelRecord {
    VkDescriptorSetLayout set_layout = VK_NULL_HANDLE;
    VkPipelineLayout pipeline_layout = VK_NULL_HANDLE;
    VkPipeline pipeline = VK_NULL_HANDLE;
    VkDescriptorSet cached_set = VK_NULL_HANDLE;
    uint32_t binding_count = 0;
    uint32_t push_bytes = 0;
    // The kernel reads its grid size: its dispatches cannot be split.
    bool reads_grid_size = true;
};

// Fixed creation parameters and list sizes.
inline constexpr uint32_t kMaxPhysicalDevices = 16;
inline constexpr uint32_t kMaxQueueFamilies = 32;
inline constexpr uint32_t kPersistentPoolSets = 8192;
inline constexpr uint32_t kPersistentPoolDescriptors = 32768;
inline constexpr uint32_t kTransientPoolSets = 4096;
inline constexpr uint32_t kTransientPoolDescriptors = 49152;
inline constexpr uint32_t kTimestampQueries = 4096;
inline constexpr uint32_t kEventQueries = 2048;          // queries 0..2047 serve events
inline constexpr uint32_t kProfileStartQuery = 4094;     // whole-decode pair
inline constexpr uint32_t kProfileEndQuery = 4095;
inline constexpr uint32_t kReservedDeviceBuffers = 4096;
inline constexpr uint32_t kReservedStreams = 256;
inline constexpr uint32_t kReservedHostAllocations = 256;
inline constexpr uint64_t kInitialStagingBytes = uint64_t{1} << 20;

struct VulkanContext {
    // Bring-up. The state is read without the lock on the fast path; it
    // becomes Ready only after every value below is written.
    std::atomic<ContextState> state{ContextState::None};
    ExclusiveLock bring_up_lock;
    bool probe_stream_made = false;
    // Set for good when a fence wait gave up on submitted work: that work may
    // still run, so nothing it can touch is reused, released or recorded again.
    std::atomic<bool> wedged{false};

    // Loader and instance.
    void* loader = nullptr;
    VkInstance instance = VK_NULL_HANDLE;
    VulkanFunctions vk;

    // Physical device.
    VkPhysicalDevice physical_device = VK_NULL_HANDLE;
    char device_name[VK_MAX_PHYSICAL_DEVICE_NAME_SIZE + 1] = {};  // NUL-terminated copy
    uint32_t device_name_length = 0;
    VkPhysicalDeviceType device_type = VK_PHYSICAL_DEVICE_TYPE_OTHER;
    bool api_1_3 = false;
    VkPhysicalDeviceMemoryProperties memory_properties{};
    uint64_t min_storage_buffer_offset_alignment = 0;
    uint64_t max_storage_buffer_range = 0;
    uint32_t max_workgroup_count[3] = {0, 0, 0};  // per dimension; 0 counts as no limit

    // Queues.
    uint32_t compute_family = 0;
    uint32_t transfer_family = 0;
    bool separate_transfer_family = false;
    VkQueue compute_queue = VK_NULL_HANDLE;
    VkQueue transfer_queue = VK_NULL_HANDLE;

    // Logical device.
    VkDevice device = VK_NULL_HANDLE;
    bool storage_16bit = false;
    bool memory_budget = false;

    // Command objects. The one-shot command buffer serves every synchronous operation.
    VkCommandPool compute_pool = VK_NULL_HANDLE;
    VkCommandPool transfer_pool = VK_NULL_HANDLE;
    VkCommandBuffer one_shot_cb = VK_NULL_HANDLE;
    VkFence one_shot_fence = VK_NULL_HANDLE;
    // The gather road's own command buffer and fence (transfer queue), made on first use.
    VkCommandBuffer gather_cb = VK_NULL_HANDLE;
    VkFence gather_fence = VK_NULL_HANDLE;
    // Held across each synchronous operation: they share the one-shot and
    // gather command buffers, their fences and the two staging buffers.
    ExclusiveLock sync_lock;
    // Vulkan wants submissions to one queue (and device-wide idle waits)
    // serialised; lavapipe has a single queue for compute and transfer.
    ExclusiveLock queue_lock;

    // Memory.
    VmaAllocator allocator = VK_NULL_HANDLE;
    StagingBuffer upload_staging;
    StagingBuffer readback_staging;

    // Host import.
    bool host_import_usable = false;
    uint64_t import_alignment = 0;  // minImportedHostPointerAlignment
    ExclusiveLock import_lock;
    HostImportSlot import_slots[kHostImportSlots];
    bool source_import_failed = false;       // importing memory failed once: never again
    bool destination_import_failed = false;
    bool source_type_reported = false;
    bool destination_type_reported = false;

    // Descriptors.
    VkDescriptorPool persistent_pool = VK_NULL_HANDLE;
    VkDescriptorPool transient_pool = VK_NULL_HANDLE;
    ExclusiveLock transient_pool_lock;
    uint32_t transient_sets = 0;

    // Timing.
    VkQueryPool query_pool = VK_NULL_HANDLE;
    std::vector<uint32_t> free_queries;  // stack; the first event takes query 2047
    // Guards the free list and the two arrays below, so that threads may time work at once.
    ExclusiveLock event_lock;
    uint8_t event_live[kEventQueries] = {};      // handed out and not yet destroyed
    uint8_t event_recorded[kEventQueries] = {};  // a timestamp was recorded since creation
    bool decode_profiling = false;
    bool profile_start_stamped = false;
    bool profile_end_stamped = false;

    // Lists with reserved room, so that they do not move in normal use. The
    // registry lock guards the buffer registry, the host allocations and the
    // creation and destruction of streams.
    ExclusiveLock registry_lock;
    std::vector<DeviceBufferEntry> buffers;
    std::vector<StreamRecord> streams;
    std::vector<HostAllocation> host_allocations;

    // Pipelines.
    VkPipelineCache pipeline_cache = VK_NULL_HANDLE;
    KernelRecord decode_records[kDecodeKernelCount];
    VkShaderModule decode_modules[kDecodeKernelCount] = {};
    DecodeKernelHandles decode_kernels{};
};

VulkanContext& vulkanContext();

// Brings the device up once per process; true when it is ready (now or from
// an earlier call). A failure is permanent: later calls return false at once.
bool ensureVulkanContext();

}  // namespace kvn
