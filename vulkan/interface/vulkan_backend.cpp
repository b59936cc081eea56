// The Vulkan library's side of the shared interface code.
#include "core/interface/backend.h"
#include "pipeline/device/core_device_ops.h"
#include "pipeline/decode/device_decode.h"
#include "pipeline/decode/frame_loop.h"
#include "pipeline/encode/compress_job.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/vulkan_context.h"
#include "vulkan/interface/family_handle.h"

namespace kvn {
namespace {

bool bringUpVulkan() { return ensureVulkanContext() && ensureEncodePipelines(); }

CoreDeviceOps vulkanDeviceOps() { return coreDeviceOpsFrom(gpuOps()); }

}  // namespace

// The job bodies.
Backend& backend() {
    static Backend vulkan_backend{
        .bringUp = bringUpVulkan,
        .deviceOps = vulkanDeviceOps,
        .joinHandleJobs = joinFamilyJobs,
        .runCompressJob = runCompressJob,
        .runDecodeJob = decodeFramesWorker,
        .runDeviceDecodeJob = decodeDeviceFrames,
    };
    return vulkan_backend;
}

}  // namespace kvn
