// The copies recorded on a stream. Host bytes travel through an imported
// host range when one is parked on the stream or can be made, else through
// the stream's staging buffer; device-to-host bytes staged there reach the
// host when the stream ends.
#include <cstring>
#include "vulkan/device/vk_errors.h"
#include <new>

#include "vulkan/device/copies.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/events.h"
#include "vulkan/device/host_import.h"
#include "vulkan/device/stream_staging.h"
#include "vulkan/device/streams.h"
#include "vulkan/device/submission.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {

namespace {

using copy_commands::recordCopy;
using copy_commands::recordPostCopyBarrier;
using copy_commands::recordPreCopyBarrier;
using copy_commands::recordSplitCopy;

// Host sources of at least this many bytes are imported rather than staged.
constexpr uint64_t kImportSourceFrom = 0x400000;

// Hands the import to the stream's end; on failure it is released now.
int32_t deferRelease(StreamRecord& s, const HostImport& import) {
    try {
        s.deferred_releases.push_back(DeferredRelease{import.buffer, import.memory, import.offset, import.slot});
    } catch (const std::bad_alloc&) {
        releaseImport(import.buffer, import.memory, import.slot);
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    }
    return 0;
}

// Takes the stream's parked destination import when it fits this copy.
std::optional<HostImport> takeParkedDestination(StreamRecord& s, void* dst, uint64_t bytes) {
    PreImportedRange& parked = s.destination_import;
    if (!parked.valid) return std::nullopt;
    if (parked.slot >= 0 && !pinParkedDestination(parked.slot, dst, bytes)) return std::nullopt;
    const HostImport import{parked.buffer, parked.memory, parked.offset, parked.slot};
    parked = PreImportedRange{};
    return import;
}

// Steps shared by both device-to-host stream copies, once `cb` is chosen.
int32_t recordDeviceToHost(StreamRecord& s, VkCommandBuffer cb, void* dst, const BufferView& src, uint64_t bytes) {
    std::optional<HostImport> import = takeParkedDestination(s, dst, bytes);
    if (!import) import = importHostRange(dst, bytes, ImportDirection::DeviceToHost);
    if (import) {
        recordSplitCopy(cb, src.buffer, 0, import->buffer, import->offset, bytes);
        return deferRelease(s, *import);
    }
    const std::optional<StagingSpan> span = streamStagingAlloc(s, bytes);
    if (!span) return kVkRequestRefused;
    try {
        s.pending_copies.push_back(PendingHostCopy{dst, span->mapped, span->offset, bytes});
    } catch (const std::bad_alloc&) {
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    }
    recordSplitCopy(cb, src.buffer, 0, span->buffer, span->offset, bytes);
    return 0;
}

// The device-to-device copies: between barriers on the compute command
// buffer, or without barriers on the transfer one; synchronous without a stream.
int32_t copyDeviceToDevice(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset, uint64_t dst_offset,
                           uint64_t bytes, StreamHandle stream, bool on_transfer_queue) {
    const std::optional<BufferView> dst_view = lookupBuffer(dst);
    if (!dst_view) return kVkRequestRefused;
    const std::optional<BufferView> src_view = lookupBuffer(src);
    if (!src_view || !rangeFits(src_offset, bytes, src_view->size) || !rangeFits(dst_offset, bytes, dst_view->size))
        return kVkRequestRefused;
    if (bytes == 0) return 0;
    StreamRecord* s = streamRecord(stream);
    if (!s) {
        SyncRoad road;
        if (int32_t r = road.begin(); r != 0) return r;
        recordCopy(road.cb(), src_view->buffer, src_offset, dst_view->buffer, dst_offset, bytes);
        return road.submitAndWait("one-shot submit");
    }
    if (on_transfer_queue) {
        if (int32_t r = streamBeginTransfer(*s); r != 0) return r;
        if (int32_t r = streamBegin(*s); r != 0) return r;
        recordCopy(s->transfer_cb, src_view->buffer, src_offset, dst_view->buffer, dst_offset, bytes);
        return 0;
    }
    if (int32_t r = streamBegin(*s); r != 0) return r;
    recordPreCopyBarrier(s->compute_cb);
    recordCopy(s->compute_cb, src_view->buffer, src_offset, dst_view->buffer, dst_offset, bytes);
    recordPostCopyBarrier(s->compute_cb);
    return 0;
}

}  // namespace

int32_t procMemcpyHtoDAsync(DeviceBufferHandle dst, const void* src, uint64_t bytes, StreamHandle stream) {
    const std::optional<BufferView> view = lookupBuffer(dst);
    if (!view || !rangeFits(0, bytes, view->size) || (bytes && !src)) return kVkRequestRefused;
    if (bytes == 0) return 0;
    StreamRecord* s = streamRecord(stream);
    if (!s) return procMemcpyHtoD(dst, src, bytes);
    if (int32_t r = streamBeginTransfer(*s); r != 0) return r;
    if (int32_t r = streamBegin(*s); r != 0) return r;

    std::optional<HostImport> import;
    PreImportedRange& parked = s->source_import;
    if (parked.valid && parked.host == src && parked.bytes == bytes) {
        import = HostImport{parked.buffer, parked.memory, parked.offset, parked.slot};
        parked = PreImportedRange{};
        pinImportSlot(import->slot);
    } else if (bytes >= kImportSourceFrom) {
        import = importHostRange(src, bytes, ImportDirection::HostToDevice);
    }
    if (import) {
        recordCopy(s->transfer_cb, import->buffer, import->offset, view->buffer, 0, bytes);
        return deferRelease(*s, *import);
    }
    const std::optional<StagingSpan> span = streamStagingAlloc(*s, bytes);
    if (!span) return kVkRequestRefused;
    std::memcpy(span->mapped + span->offset, src, bytes);
    recordCopy(s->transfer_cb, span->buffer, span->offset, view->buffer, 0, bytes);
    return 0;
}

int32_t procMemcpyDtoHAsync(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream) {
    const std::optional<BufferView> view = lookupBuffer(src);
    if (!view || !rangeFits(0, bytes, view->size) || (bytes && !dst)) return kVkRequestRefused;
    if (bytes == 0) return 0;
    StreamRecord* s = streamRecord(stream);
    if (!s) return procMemcpyDtoH(dst, src, bytes);
    VkCommandBuffer cb = VK_NULL_HANDLE;
    if (s->aux_mode) {
        if (int32_t r = streamBeginAux(*s); r != 0) return r;
        cb = s->aux_cb;
    } else {
        if (int32_t r = streamBegin(*s); r != 0) return r;
        cb = s->compute_cb;
    }
    writeProfileEndStamp(cb);
    recordPreCopyBarrier(cb);
    return recordDeviceToHost(*s, cb, dst, *view, bytes);
}

int32_t procMemcpyDtoHXferAsync(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream) {
    // The device-to-host command buffer reaches the device only through the
    // aux-mode stream end; outside aux mode the copy goes where it is submitted.
    StreamRecord* s = streamRecord(stream);
    if (!s || !s->hasAuxSet() || !s->aux_mode) return procMemcpyDtoHAsync(dst, src, bytes, stream);
    const std::optional<BufferView> view = lookupBuffer(src);
    if (!view || !rangeFits(0, bytes, view->size) || (bytes && !dst)) return kVkRequestRefused;
    if (bytes == 0) return 0;
    if (int32_t r = streamBeginXferD2H(*s); r != 0) return r;
    return recordDeviceToHost(*s, s->d2h_cb, dst, *view, bytes);
}

int32_t procMemcpyDtoDAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream) {
    return copyDeviceToDevice(dst, src, 0, 0, bytes, stream, false);
}

int32_t procMemcpyDtoDSrcOffsetAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset,
                                     uint64_t bytes, StreamHandle stream) {
    return copyDeviceToDevice(dst, src, src_offset, 0, bytes, stream, false);
}

int32_t procMemcpyDtoDSrcOffsetTransferAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset,
                                             uint64_t bytes, StreamHandle stream) {
    return copyDeviceToDevice(dst, src, src_offset, 0, bytes, stream, true);
}

int32_t procMemcpyDtoDDstOffsetAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t dst_offset,
                                     uint64_t bytes, StreamHandle stream) {
    return copyDeviceToDevice(dst, src, 0, dst_offset, bytes, stream, false);
}

}  // namespace kvn
