// The Vulkan library's side of the shared interface code.
#include "core/interface/backend.h"
#include "pipeline/decode/frame_loop.h"
#include "pipeline/encode/compress_job.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/vulkan_context.h"
#include "vulkan/interface/family_handle.h"

namespace kvn {
namespace {

bool bringUpVulkan() { return ensureVulkanContext() && ensureEncodePipelines(); }

CoreDeviceOps vulkanDeviceOps() {
    const GpuOpsTable& ops = gpuOps();
    return {
        .memFree = ops.memFree,
        .memFreeHost = ops.memFreeHost,
        .memGetInfo = ops.memGetInfo,
        .streamSynchronize = ops.streamSynchronize,
        .streamDestroy = ops.streamDestroy,
        .eventCreate = ops.eventCreate,
        .eventRecord = ops.eventRecord,
        .eventSynchronize = ops.eventSynchronize,
        .eventElapsedTime = ops.eventElapsedTime,
        .eventDestroy = ops.eventDestroy,
    };
}

}  // namespace

// The job bodies; an empty slot (the device-input road, for now) makes its
// jobs report a device failure.
Backend& backend() {
    static Backend vulkan_backend{
        .bringUp = bringUpVulkan,
        .deviceOps = vulkanDeviceOps,
        .joinHandleJobs = joinFamilyJobs,
        .runCompressJob = runCompressJob,
        .runDecodeJob = decodeFramesWorker,
    };
    return vulkan_backend;
}

}  // namespace kvn
