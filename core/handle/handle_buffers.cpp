#include "core/handle/handle_buffers.h"

#include "core/platform/platform.h"

namespace kvn {

void releaseDeviceBuffers(DeviceBuffer* buffers, uint32_t count, const CoreDeviceOps& ops) {
    for (uint32_t i = 0; i < count; ++i) {
        if (buffers[i].handle && ops.memFree) ops.memFree(buffers[i].handle);
        buffers[i] = {0, 0};
    }
}

void freeHostBuffers(HostBuffer* buffers, uint32_t count, const CoreDeviceOps& ops) {
    for (uint32_t i = 0; i < count; ++i) {
        HostBuffer& buffer = buffers[i];
        if (buffer.pointer && ops.memFreeHost) ops.memFreeHost(buffer.pointer);
        buffer = {nullptr, 0};
    }
}

void freePageBlock(PageBlock& block) {
    freePages(block.pages, block.bytes);
    block = {nullptr, 0};
}

}  // namespace kvn
