#include "pipeline/decode/device_leap_walk.h"

#include "core/platform/platform.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/device_walk.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// One phase over `groups` workgroups, then a wait for it.
Error runPhase(DecoderState& decoder, KernelHandle kernel, DeviceBufferHandle src, uint32_t src_len, uint32_t phase,
               uint32_t groups) {
    KernelCall call(kernel, groups);
    call.buffer(src);
    bindWalkOutputs(decoder, call);
    call.buffer(slotHandle(decoder, kLeapControl));
    call.word(src_len).word(kWalkDescCapacity).word(phase).word(kLeapWarps);
    KVN_TRY(call.launch(decoder, decoder.stream, "kvnMegaLeapKernel"));
    KVN_TRY(computeBarrier(decoder.stream));
    return checkSync(gpuOps().streamSynchronize(decoder.stream));
}

struct ControlWord {
    uint32_t value;
    Error error;
};

ControlWord readControl(const DecoderState& decoder, uint32_t word) {
    ControlWord read{0, Error::None};
    if (gpuOps().memcpyDtoHSrcOffset(&read.value, slotHandle(decoder, kLeapControl), 4, 4 * uint64_t{word}) !=
        Error::None)
        return {0, Error::CopyFailed};
    return read;
}

// Phases 1 to 4 once per frame until the walk ends (ended) or the rounds
// run out. Each frame the leap walk takes holds at least 1 MiB, so the input
// bounds the rounds; a walk that has not ended by then is not trusted.
Error runRounds(DecoderState& decoder, KernelHandle leap, DeviceBufferHandle src, uint32_t src_len, bool* ended) {
    const uint32_t rounds = src_len / KVN_LEAP_MIN_PAYLOAD + 1;
    for (uint32_t round = 0; round <= rounds; ++round) {
        KVN_TRY(runPhase(decoder, leap, src, src_len, 1, 1));
        ControlWord state = readControl(decoder, KVN_LEAP_CTL_STATE);
        KVN_TRY(state.error);
        *ended = state.value != KVN_LEAP_STATE_READY;
        if (*ended) return Error::None;
        KVN_TRY(runPhase(decoder, leap, src, src_len, 2, kLeapWarps));
        KVN_TRY(runPhase(decoder, leap, src, src_len, 3, 1));
        state = readControl(decoder, KVN_LEAP_CTL_STATE);
        KVN_TRY(state.error);
        *ended = state.value == KVN_LEAP_STATE_FAULT;
        if (*ended) return Error::None;
        KVN_TRY(runPhase(decoder, leap, src, src_len, 4, (kLeapWarps + 31) / 32));
    }
    return Error::None;
}

}  // namespace

LeapResult leapWalk(DecoderState& decoder, DeviceBufferHandle src, uint32_t src_len) {
    const std::optional<KernelHandle> leap = getKernelHandle(&DecodeKernelHandles::mega_leap_fn);
    if (envPresent("KVN_WALK_SERIAL") || !leap) return {Error::None, false};
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamSynchronize || !ops.memcpyDtoHSrcOffset) return {Error::BackendNotAvailable, false};
    if (Error e = ensureDeviceSlot(decoder, kLeapControl, kLeapControlBytes); e != Error::None) return {e, false};
    if (ops.memsetD8(slotHandle(decoder, kLeapControl), 0, kLeapControlBytes) != Error::None)
        return {Error::CopyFailed, false};
    if (Error e = runPhase(decoder, *leap, src, src_len, 0, 1); e != Error::None) return {e, false};
    const ControlWord serial = readControl(decoder, KVN_LEAP_CTL_SERIAL);
    if (serial.error != Error::None) return {serial.error, false};
    if (serial.value != 0) return {Error::None, false};
    bool ended = false;
    const Error error = runRounds(decoder, *leap, src, src_len, &ended);
    return {error, error == Error::None && ended};
}

}  // namespace kvn
