#include "pipeline/decode/device_walk.h"

#include "kernels/format_constants.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {

Error prepareWalkBuffers(DecoderState& decoder) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memsetD8) return Error::BackendNotAvailable;
    KVN_TRY(ensureDeviceSlot(decoder, kWalkDescs, uint64_t{kWalkDescCapacity} * sizeof(KvnChunkDesc)));
    KVN_TRY(ensureDeviceSlot(decoder, kWalkMeta, kWalkMetaBytes));
    KVN_TRY(ensureDeviceSlot(decoder, kSubchunkStarts, kSubchunkStartsBytes));
    KVN_TRY(ensureDeviceSlot(decoder, kSubchunkTotal, 4));
    if (ops.memsetD8(slotHandle(decoder, kWalkMeta), 0, kWalkMetaBytes) != Error::None) return Error::CopyFailed;
    return Error::None;
}

void bindWalkOutputs(const DecoderState& decoder, KernelCall& call) {
    call.buffer(slotHandle(decoder, kWalkDescs));
    for (uint32_t cell = 0; cell < kWalkCellCount; ++cell)
        call.buffer(slotHandle(decoder, kWalkMeta), cell * kWalkCellStride);
    call.buffer(slotHandle(decoder, kSubchunkStarts)).buffer(slotHandle(decoder, kSubchunkTotal));
}

WalkResult walkFrameDevice(DecoderState& decoder, DeviceBufferHandle frame, uint32_t frame_len,
                           uint32_t content_size, const WalkParams& params) {
    const GpuOpsTable& ops = gpuOps();
    if (!ensureDevice() || !ops.launchKernel || !ops.memsetD8) return {0, 0, Error::BackendNotAvailable};
    const std::optional<KernelHandle> one_thread = getKernelHandle(&DecodeKernelHandles::walk_frame_fn);
    if (!one_thread) return {0, 0, Error::KernelMissing};
    if (Error e = prepareWalkBuffers(decoder); e != Error::None) return {0, 0, e};
    const std::optional<KernelHandle> table = getKernelHandle(&DecodeKernelHandles::walk_frame_table_fn);
    const bool by_table = params.has_table && table;
    KernelCall call(by_table ? *table : *one_thread, 1);
    call.buffer(frame);
    bindWalkOutputs(decoder, call);
    call.word(frame_len);
    if (by_table) call.word(params.table_offset).word(params.chunk_count);
    call.word(kWalkDescCapacity).word(content_size);
    const char* label = by_table ? "kvnWalkFrameTableKernel" : "kvnWalkFrameKernel";
    if (Error e = call.launch(decoder, decoder.stream, label); e != Error::None) return {0, 0, e};
    if (Error e = computeBarrier(decoder.stream); e != Error::None) return {0, 0, e};
    return {slotHandle(decoder, kWalkDescs), slotHandle(decoder, kWalkMeta), Error::None};
}

WalkCells readWalkCells(const DecoderState& decoder) {
    WalkCells read{{}, Error::None};
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyDtoHSrcOffset) return {{}, Error::BackendNotAvailable};
    for (uint32_t cell = 0; cell < kWalkCellCount; ++cell) {
        if (ops.memcpyDtoHSrcOffset(&read.cells[cell], slotHandle(decoder, kWalkMeta), 4, cell * kWalkCellStride) !=
            Error::None)
            return {{}, Error::CopyFailed};
    }
    return read;
}

Error readWalkDescs(const DecoderState& decoder, std::vector<KvnChunkDesc>* descs) {
    const WalkCells walk = readWalkCells(decoder);
    KVN_TRY(walk.error);
    const uint32_t count = walk.cells[kWalkCount];
    if (count > kWalkDescCapacity) return Error::BadMode;
    descs->resize(count);
    if (count == 0) return Error::None;
    return checkCopy(gpuOps().memcpyDtoH(descs->data(), slotHandle(decoder, kWalkDescs), count * sizeof(KvnChunkDesc)));
}

Error walkStatusError(uint32_t status) {
    switch (status) {
        case KVN_WALK_OK: return Error::None;
        // Shapes the walks do not take; the host road decodes them.
        case KVN_WALK_UNSUPPORTED:
        case KVN_WALK_TOO_MANY_CHUNKS:
        case KVN_WALK_SECOND_BLOCK: return Error::BadMode;
        case KVN_WALK_TOO_LARGE: return Error::OutputTooSmall;
        default: return Error::BadFrame;
    }
}

}  // namespace kvn
