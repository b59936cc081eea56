// Each slot calls its driver entry point and names the result: an entry
// point the driver lacks is BackendNotAvailable. Device buffers are device
// pointers, so offsets are added to them; streams and events are the
// driver's own.
#include "cuda/device/gpu_ops.h"

#include "cuda/device/cu_errors.h"
#include "cuda/device/cuda_context.h"
#include "cuda/device/kernel_arguments.h"

namespace kvn {
namespace {

template <typename Fn, typename... Args>
Error call(Fn fn, Args... args) {
    if (!fn) return Error::BackendNotAvailable;
    return errorFromCuResult(fn(args...));
}

const CudaFunctions& cu() { return cudaContext().cu; }
CuStream asStream(StreamHandle stream) { return reinterpret_cast<CuStream>(stream); }
CuEvent asEvent(EventHandle event) { return reinterpret_cast<CuEvent>(event); }

Error memAlloc(uint64_t* out, uint64_t bytes) { return call(cu().cuMemAlloc, out, size_t(bytes)); }
Error memFree(DeviceBufferHandle buffer) { return buffer ? call(cu().cuMemFree, buffer) : Error::None; }
Error memcpyHtoD(DeviceBufferHandle dst, const void* src, uint64_t bytes) {
    return call(cu().cuMemcpyHtoD, dst, src, size_t(bytes));
}
Error memcpyDtoH(void* dst, DeviceBufferHandle src, uint64_t bytes) {
    return call(cu().cuMemcpyDtoH, dst, src, size_t(bytes));
}
Error memcpyDtoHSrcOffset(void* dst, DeviceBufferHandle src, uint64_t bytes, uint64_t src_offset) {
    return call(cu().cuMemcpyDtoH, dst, src + src_offset, size_t(bytes));
}
Error memcpyDtoHGather(void* dst_base, DeviceBufferHandle src, const CopyRegion* regions, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i)
        KVN_TRY(call(cu().cuMemcpyDtoH, static_cast<uint8_t*>(dst_base) + regions[i].dstOffset,
                     src + regions[i].srcOffset, size_t(regions[i].size)));
    return Error::None;
}
Error memcpyHtoDAsync(DeviceBufferHandle dst, const void* src, uint64_t bytes, StreamHandle stream) {
    return call(cu().cuMemcpyHtoDAsync, dst, src, size_t(bytes), asStream(stream));
}
Error memcpyDtoHAsync(void* dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream) {
    return call(cu().cuMemcpyDtoHAsync, dst, src, size_t(bytes), asStream(stream));
}
Error memcpyDtoDAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t bytes, StreamHandle stream) {
    return call(cu().cuMemcpyDtoDAsync, dst, src, size_t(bytes), asStream(stream));
}
Error memcpyDtoDSrcOffsetAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t src_offset, uint64_t bytes,
                               StreamHandle stream) {
    return memcpyDtoDAsync(dst, src + src_offset, bytes, stream);
}
Error memcpyDtoDDstOffsetAsync(DeviceBufferHandle dst, DeviceBufferHandle src, uint64_t dst_offset, uint64_t bytes,
                               StreamHandle stream) {
    return memcpyDtoDAsync(dst + dst_offset, src, bytes, stream);
}
Error memGetInfo(uint64_t* free_bytes, uint64_t* total_bytes) {
    size_t free_count = 0;
    size_t total_count = 0;
    KVN_TRY(call(cu().cuMemGetInfo, &free_count, &total_count));
    *free_bytes = free_count;
    *total_bytes = total_count;
    return Error::None;
}
Error memsetD8(DeviceBufferHandle buffer, uint32_t value, uint64_t count) {
    return call(cu().cuMemsetD8, buffer, static_cast<unsigned char>(value), size_t(count));
}
Error memsetD8Async(DeviceBufferHandle buffer, uint32_t value, uint64_t count, StreamHandle stream) {
    return call(cu().cuMemsetD8Async, buffer, static_cast<unsigned char>(value), size_t(count), asStream(stream));
}
Error memAllocHost(void** out, uint64_t bytes) { return call(cu().cuMemAllocHost, out, size_t(bytes)); }
Error memFreeHost(void* pointer) { return pointer ? call(cu().cuMemFreeHost, pointer) : Error::None; }
Error streamSynchronize(StreamHandle stream) { return call(cu().cuStreamSynchronize, asStream(stream)); }
// A CUDA stream is one queue: there is no separate transfer or auxiliary
// work to flush or switch to, and its order already separates kernels.
Error nothingToDo(StreamHandle) { return Error::None; }
Error ctxSynchronize() { return call(cu().cuCtxSynchronize); }
// Null asks for the library's own context, the one every entry path uses.
Error ctxSetCurrent(void* context) {
    CuContext target = context ? static_cast<CuContext>(context) : cudaContext().context;
    return call(cu().cuCtxSetCurrent, target);
}
Error ctxGetCurrent(void** out) {
    CuContext current = nullptr;
    KVN_TRY(call(cu().cuCtxGetCurrent, &current));
    *out = current;
    return Error::None;
}
Error streamCreate(uint64_t* out, uint32_t flags) {
    CuStream stream = nullptr;
    KVN_TRY(call(cu().cuStreamCreate, &stream, unsigned(flags)));
    *out = reinterpret_cast<uint64_t>(stream);
    return Error::None;
}
Error streamDestroy(StreamHandle stream) { return stream ? call(cu().cuStreamDestroy, asStream(stream)) : Error::None; }
Error eventCreate(uint64_t* out, uint32_t flags) {
    CuEvent event = nullptr;
    KVN_TRY(call(cu().cuEventCreate, &event, unsigned(flags)));
    *out = reinterpret_cast<uint64_t>(event);
    return Error::None;
}
Error eventRecord(EventHandle event, StreamHandle stream) {
    return call(cu().cuEventRecord, asEvent(event), asStream(stream));
}
Error streamWaitEvent(StreamHandle stream, EventHandle event) {
    return call(cu().cuStreamWaitEvent, asStream(stream), asEvent(event), 0u);
}
Error eventSynchronize(EventHandle event) { return call(cu().cuEventSynchronize, asEvent(event)); }
Error eventElapsedTime(float* ms, EventHandle start, EventHandle end) {
    return call(cu().cuEventElapsedTime, ms, asEvent(start), asEvent(end));
}
Error eventDestroy(EventHandle event) { return event ? call(cu().cuEventDestroy, asEvent(event)) : Error::None; }
// The pipelines describe a launch in the Vulkan form (buffers with binding
// offsets, then 32-bit words, a grid of workgroups); the kernel's parameter
// table turns it into one argument per PTX parameter. A launch the table
// does not match, or one without its argument counts, is refused before it
// reaches the driver: the kernel would misread its arguments.
Error launchKernel(KernelHandle kernel, uint32_t grid_x, uint32_t grid_y, uint32_t grid_z, uint32_t, uint32_t,
                   uint32_t, uint32_t shared_bytes, StreamHandle stream, void** params, void** extra,
                   const uint64_t* binding_offsets) {
    const KernelParams* table = kernelParamsOf(kernel);
    if (!table || !extra || !extra[0] || (!params && *table->kinds)) return Error::BadRequest;
    CudaArguments arguments;
    KVN_TRY(buildCudaArguments(*table, grid_x, params, *static_cast<const LaunchArgCounts*>(extra[0]),
                               binding_offsets, &arguments));
    return call(cu().cuLaunchKernel, kernel, unsigned(arguments.grid_x), unsigned(grid_y), unsigned(grid_z),
                unsigned(arguments.block_x), unsigned(arguments.block_y), 1u, unsigned(shared_bytes), asStream(stream),
                arguments.pointers, static_cast<void**>(nullptr));
}

// Empty until bring-up fills it; events report milliseconds themselves.
constexpr GpuOpsTable kEmptyTable = [] {
    GpuOpsTable table{};
    table.timestamp_period = 1.0f;
    return table;
}();

GpuOpsTable g_gpu_ops = kEmptyTable;

}  // namespace

GpuOpsTable& gpuOps() { return g_gpu_ops; }

void fillGpuOps() {
    GpuOpsTable& t = g_gpu_ops;
    t.memAlloc = memAlloc;
    t.memFree = memFree;
    t.memcpyHtoD = memcpyHtoD;
    t.memcpyDtoH = memcpyDtoH;
    t.memcpyDtoHSrcOffset = memcpyDtoHSrcOffset;
    t.memcpyDtoHGather = memcpyDtoHGather;
    t.memcpyHtoDAsync = memcpyHtoDAsync;
    t.memcpyDtoHAsync = memcpyDtoHAsync;
    t.memcpyDtoDAsync = memcpyDtoDAsync;
    t.memcpyDtoDSrcOffsetAsync = memcpyDtoDSrcOffsetAsync;
    t.memcpyDtoDSrcOffsetTransferAsync = memcpyDtoDSrcOffsetAsync;
    t.memcpyDtoDDstOffsetAsync = memcpyDtoDDstOffsetAsync;
    t.memGetInfo = memGetInfo;
    t.memsetD8 = memsetD8;
    t.memsetD8Async = memsetD8Async;
    t.memAllocHost = memAllocHost;
    t.memFreeHost = memFreeHost;
    t.streamSynchronize = streamSynchronize;
    t.streamFlushTransfer = nothingToDo;
    t.ctxSynchronize = ctxSynchronize;
    t.ctxSetCurrent = ctxSetCurrent;
    t.ctxGetCurrent = ctxGetCurrent;
    t.streamCreate = streamCreate;
    t.streamDestroy = streamDestroy;
    t.eventCreate = eventCreate;
    t.eventRecord = eventRecord;
    t.eventSynchronize = eventSynchronize;
    t.eventElapsedTime = eventElapsedTime;
    t.eventDestroy = eventDestroy;
    t.launchKernel = launchKernel;
    t.streamComputeBarrier = nothingToDo;
    t.streamSwitchToAux = nothingToDo;
    t.memcpyDtoHXferAsync = memcpyDtoHAsync;
    t.streamWaitEvent = streamWaitEvent;
}

}  // namespace kvn
