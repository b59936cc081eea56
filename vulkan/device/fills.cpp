#include "vulkan/device/fills.h"

#include "vulkan/device/device_buffers.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vk_errors.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

void recordFill(VkCommandBuffer cb, const BufferView& view, uint32_t value, uint64_t count) {
    const uint32_t word = (value & 0xFF) * 0x01010101u;
    const uint64_t rounded = (count + 3) & ~uint64_t{3};
    const uint64_t size = count < view.size && rounded < view.size ? rounded : VK_WHOLE_SIZE;
    vulkanContext().vk.vkCmdFillBuffer(cb, view.buffer, 0, size, word);
}

}  // namespace

int32_t procMemsetD8(DeviceBufferHandle buffer, uint32_t value, uint64_t count) {
    const std::optional<BufferView> view = lookupBuffer(buffer);
    if (!view || count > view->size) return kVkRequestRefused;
    if (count == 0) return 0;
    SyncRoad road;
    if (int32_t r = road.begin(); r != 0) return r;
    recordFill(road.cb(), *view, value, count);
    return road.submitAndWait("one-shot submit");
}

int32_t procMemsetD8Async(DeviceBufferHandle buffer, uint32_t value, uint64_t count, StreamHandle stream) {
    StreamRecord* s = streamRecord(stream);
    if (!s) return procMemsetD8(buffer, value, count);
    const std::optional<BufferView> view = lookupBuffer(buffer);
    if (!view || count > view->size) return kVkRequestRefused;
    if (count == 0) return 0;
    if (int32_t r = streamBegin(*s); r != 0) return r;
    recordFill(s->compute_cb, *view, value, count);
    return 0;
}

}  // namespace kvn
