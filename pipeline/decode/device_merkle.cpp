#include "pipeline/decode/device_merkle.h"

#include "kernels/format_constants.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/decode/kernel_call.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint32_t kMerkleGroup = 128;

uint32_t groupsOf(uint32_t items) { return (items + kMerkleGroup - 1) / kMerkleGroup; }

// The verdict of the frame's leaves in kChunkHashes against the stored root,
// on the last batch.
Error launchVerdict(DecoderState& decoder, const DecodeBatch& batch, StreamHandle stream) {
    const std::optional<KernelHandle> verdict = getKernelHandle(&DecodeKernelHandles::merkle_verdict_fn);
    if (!batch.last_batch || !verdict) return Error::None;
    KVN_TRY(ensureDeviceSlot(decoder, kVerdictDev, 4 * KVN_VERDICT_CELL_WORDS));
    // XXH32 chains its stripes: the fold runs in passes, each carrying its
    // lanes to the next through the cell; the last pass writes the verdict.
    const uint32_t stripes = batch.leaf_total / 4;
    for (uint32_t first = 0;; first += KVN_VERDICT_PASS_STRIPES) {
        KVN_TRY(computeBarrier(stream));
        KernelCall judge(*verdict, 1);
        judge.buffer(slotHandle(decoder, kChunkHashes)).buffer(slotHandle(decoder, kVerdictDev));
        judge.word(batch.leaf_total).word(batch.expected_root).word(first);
        KVN_TRY(judge.launch(decoder, stream));
        if (stripes - first <= KVN_VERDICT_PASS_STRIPES) break;
    }
    if (!batch.verdict_dst) return Error::None;
    KVN_TRY(computeBarrier(stream));
    const GpuOpsTable& ops = gpuOps();
    return checkCopy(ops.memcpyDtoHAsync ? ops.memcpyDtoHAsync(batch.verdict_dst, slotHandle(decoder, kVerdictDev), 4, stream)
                                         : ops.memcpyDtoH(batch.verdict_dst, slotHandle(decoder, kVerdictDev), 4));
}

}  // namespace

bool fusedLeavesFit(const DecodeBatch& batch) {
    const uint32_t size = batch.merkle_chunk_size;
    if (batch.merkle_leaves == 0 || !batch.last_batch || batch.out_off != 0 || batch.leaf_off != 0 ||
        batch.merkle_leaves != batch.leaf_total || batch.merkle_leaves != batch.chunk_count || size == 0 ||
        size % 4 != 0 || (batch.sc_table_off != 0 && batch.merkle_leaves >= 2) || !batch.host_descs ||
        batch.descs_on_device)
        return false;
    for (uint64_t i = 0; i < batch.chunk_count; ++i)
        if (batch.host_descs[i].dst_off != i * size) return false;
    return true;
}

bool deviceMerkleArmed(const DecodeBatch& batch) {
    return batch.merkle_leaves > 0 && getKernelHandle(&DecodeKernelHandles::seg_hash_fn) &&
           getKernelHandle(&DecodeKernelHandles::chunk_combine_fn);
}

Error restoreChunkPrefixes(DecoderState& decoder, const DecodeBatch& batch, const BatchBuffers& buffers,
                           StreamHandle stream, DeviceBufferHandle output, uint64_t output_off) {
    const uint64_t block_chunks = (batch.out_len + batch.merkle_chunk_size - 1) / batch.merkle_chunk_size;
    const std::optional<KernelHandle> prefix = getKernelHandle(&DecodeKernelHandles::sc_prefix_apply_fn);
    if (batch.sc_table_off == 0 || block_chunks < 2) return Error::None;
    // Leaves over chunk starts the prefixes have not restored would judge
    // other bytes than the caller gets.
    if (!prefix) return Error::KernelMissing;
    KVN_TRY(computeBarrier(stream));
    // The batch's chunks start at out_off; the caller arms the pass only
    // where that offset can be bound.
    KernelCall call(*prefix, groupsOf(uint32_t(block_chunks)));
    call.buffer(output, output_off + batch.out_off).buffer(buffers.payload_buf);
    call.wide(buffers.payload_buf_off + batch.sc_table_off).word(uint32_t(block_chunks));
    call.word(batch.merkle_chunk_size).wide(batch.out_len);
    return call.launch(decoder, stream);
}

Error hashDeviceLeaves(DecoderState& decoder, const DecodeBatch& batch, StreamHandle stream,
                       DeviceBufferHandle output, bool leaves_hashed, uint64_t output_off) {
    if (leaves_hashed) return launchVerdict(decoder, batch, stream);
    const KernelHandle seg_hash = *getKernelHandle(&DecodeKernelHandles::seg_hash_fn);
    const KernelHandle combine = *getKernelHandle(&DecodeKernelHandles::chunk_combine_fn);
    const uint32_t leaves = batch.merkle_leaves;
    KVN_TRY(ensureDeviceSlot(decoder, kChunkHashes, 4 * uint64_t(batch.leaf_total)));
    KVN_TRY(ensureDeviceSlot(decoder, kSegHashes, 4 * uint64_t(leaves)));
    // The leaves are the frame's: the buffer holds the history of earlier
    // blocks before this batch's bytes, and every leaf is hashed from there.
    const uint64_t hashed = batch.out_off + batch.out_len;
    KVN_TRY(computeBarrier(stream));

    // The prefixes are restored before: the leaves hash the output as it stands.
    KernelCall hash(seg_hash, leaves);
    hash.buffer(output, output_off).buffer(slotHandle(decoder, kSegHashes));
    hash.word(leaves).word(batch.merkle_chunk_size).wide(hashed);
    KVN_TRY(hash.launch(decoder, stream, decodeDiagnostics().leaf_pass_timed ? "kvnSegHashKernel" : nullptr));
    KVN_TRY(computeBarrier(stream));
    KernelCall fold(combine, groupsOf(leaves));
    fold.buffer(slotHandle(decoder, kSegHashes)).buffer(slotHandle(decoder, kChunkHashes));
    fold.word(leaves).word(batch.merkle_chunk_size).wide(hashed).word(batch.leaf_off);
    KVN_TRY(fold.launch(decoder, stream));

    return launchVerdict(decoder, batch, stream);
}

bool wholeOutputMerkleRuns(uint64_t len, uint64_t leaf_size) {
    // The verdict's passes and the leaf array grow with the leaf count.
    return leaf_size > 0 && (len + leaf_size - 1) / leaf_size <= kMaxWholeOutputLeaves &&
           getKernelHandle(&DecodeKernelHandles::seg_hash_fn) &&
           getKernelHandle(&DecodeKernelHandles::chunk_combine_fn) &&
           getKernelHandle(&DecodeKernelHandles::merkle_verdict_fn);
}

Error launchWholeOutputMerkle(DecoderState& decoder, StreamHandle stream, DeviceBufferHandle output,
                              uint64_t output_off, uint64_t len, uint64_t leaf_size, uint32_t root,
                              int32_t* verdict_dst) {
    if (!wholeOutputMerkleRuns(len, leaf_size)) return Error::None;
    const uint32_t leaves = uint32_t((len + leaf_size - 1) / leaf_size);
    const DecodeBatch whole{.out_len = len,
                            .verdict_dst = verdict_dst,
                            .merkle_leaves = leaves,
                            .leaf_total = leaves,
                            .merkle_chunk_size = uint32_t(leaf_size),
                            .expected_root = root,
                            .last_batch = true};
    return launchDeviceMerkle(decoder, whole, BatchBuffers{}, stream, output, false, output_off);
}

Error launchDeviceMerkle(DecoderState& decoder, const DecodeBatch& batch, const BatchBuffers& buffers,
                         StreamHandle stream, DeviceBufferHandle output, bool leaves_hashed,
                         uint64_t output_off) {
    if (!deviceMerkleArmed(batch)) return Error::None;
    if (!leaves_hashed) KVN_TRY(restoreChunkPrefixes(decoder, batch, buffers, stream, output, output_off));
    return hashDeviceLeaves(decoder, batch, stream, output, leaves_hashed, output_off);
}

}  // namespace kvn
