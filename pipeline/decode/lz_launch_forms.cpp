#include "pipeline/decode/lz_launch_forms.h"

#include "pipeline/device/backend_hooks.h"

namespace kvn {

void addRawLzArguments(KernelCall& call, const LzLaunchArgs& a, bool pipelined, uint64_t leaf_hashes) {
    call.buffer(a.payload).buffer(a.descs, a.descs_off).buffer(a.destination);
    if (kernelsTakeCudaForms()) {
        call.word(a.chunks_per_item).wide(bufferDeviceAddress(a.chunk_count) + a.chunk_count_off).word(a.subchunk_size);
        call.wide(a.dict_address).word(a.dict_len);
        if (pipelined) call.wide(leaf_hashes);
        call.wide(bufferDeviceAddress(a.status));
        return;
    }
    call.buffer(a.chunk_count, a.chunk_count_off).buffer(a.status);
    call.word(a.chunks_per_item).word(a.subchunk_size).wide(a.dict_address).word(a.dict_len);
    call.word(a.payload_end).word(a.output_length);
}

Error addGeneralLzArguments(KernelCall& call, const LzLaunchArgs& a, const LzScratchArgs& s) {
    call.buffer(a.payload).buffer(a.descs, a.descs_off).buffer(a.destination);
    const uint64_t token_scratch = s.scratch ? s.scratch + s.token_off : 0;
    const uint64_t off16_scratch = s.scratch ? s.scratch + s.off16_off : 0;
    if (kernelsTakeCudaForms()) {
        // The CUDA form finds the off16 region at twice the token region's offset.
        if (s.off16_off != 2 * s.token_off) return Error::BadMode;
        call.word(a.chunks_per_item).wide(bufferDeviceAddress(a.chunk_count) + a.chunk_count_off).word(a.subchunk_size);
        call.wide(s.scratch).wide(s.token_off);
        call.wide(bufferDeviceAddress(s.first_subchunk) + s.first_subchunk_off);
        call.wide(bufferDeviceAddress(s.scratch_offsets) + s.scratch_offsets_off).wide(a.dict_address);
        // Slot indices count from the scratch's first slot: no slot to subtract.
        call.word(a.dict_len).word(0).wide(bufferDeviceAddress(a.status));
        return Error::None;
    }
    call.buffer(a.chunk_count, a.chunk_count_off).buffer(s.first_subchunk, s.first_subchunk_off).buffer(a.status);
    call.buffer(s.scratch_offsets, s.scratch_offsets_off);
    call.word(a.chunks_per_item).word(a.subchunk_size).wide(s.scratch).wide(token_scratch);
    call.wide(off16_scratch).wide(a.dict_address).word(a.dict_len);
    call.word(a.output_length).word(a.payload_end);
    return Error::None;
}

}  // namespace kvn
