#include "pipeline/encode/device_merkle.h"

#include <cstdio>
#include <vector>

#include "core/format/size_math.h"
#include "core/integrity/xxh32.h"
#include "core/platform/platform.h"
#include "pipeline/decode/decode_kernels.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/encode_launch.h"
#include "pipeline/encode/encoder_buffers.h"
#include "pipeline/encode/frame_source.h"

namespace kvn {
namespace {

constexpr EncodeKernelShape kIntegrityShape{128, false};
constexpr uint32_t kCombineThreads = 128;
constexpr EncodeKernelShape kRootWriteShape{1, false};
// The root-writing kernel reads 4 bytes per leaf with 32-bit offsets.
constexpr uint32_t kMaxRootWriteLeaves = UINT32_MAX / 4;

struct LeafBuffers {
    DeviceBuffer& leaves;
    DeviceBuffer& scratch;
};

// The hash and combine launches over `input`; both are made even when the
// first fails, as the results are reported together.
Error launchLeaves(const LeafBuffers& b, DeviceBufferHandle input, uint64_t len, uint32_t chunk_size, uint32_t count,
                   Error* seg_rc, Error* combine_rc) {
    const KernelHandle seg = *getKernelHandle(&DecodeKernelHandles::seg_hash_fn);
    const KernelHandle combine = *getKernelHandle(&DecodeKernelHandles::chunk_combine_fn);
    const uint32_t lo = static_cast<uint32_t>(len), hi = static_cast<uint32_t>(len >> 32);
    *seg_rc = launchEncodeKernel(nullptr, nullptr, seg, kIntegrityShape, count,
                                 {input, b.scratch.handle}, {count, chunk_size, lo, hi});
    *combine_rc = launchEncodeKernel(nullptr, nullptr, combine, kIntegrityShape,
                                     static_cast<uint32_t>(ceilDiv(count, kCombineThreads)),
                                     {b.scratch.handle, b.leaves.handle}, {count, chunk_size, lo, hi, 0});
    KVN_TRY(*seg_rc);
    KVN_TRY(*combine_rc);
    return gpuOps().ctxSynchronize();
}

std::optional<uint32_t> rootOfLeaves(DeviceBufferHandle leaves, uint32_t count) {
    std::vector<uint32_t> host(count);
    if (!gpuOps().memcpyDtoH || gpuOps().memcpyDtoH(host.data(), leaves, 4 * uint64_t{count}) != Error::None)
        return std::nullopt;
    return xxh32(reinterpret_cast<const uint8_t*>(host.data()), 4 * uint64_t{count});
}

}  // namespace

bool deviceMerkleAvailable() {
    return !envPresent("KVN_NO_DEVICE_MERKLE") && getKernelHandle(&DecodeKernelHandles::seg_hash_fn) &&
           getKernelHandle(&DecodeKernelHandles::chunk_combine_fn) && gpuOps().ctxSynchronize;
}

void hashDeviceLeaves(EncoderState& encoder, DeviceBufferHandle input, uint64_t len, uint32_t chunk_size) {
    const uint32_t count = encoder.merkle_chunk_count;
    const LeafBuffers b{encoderBuffer(encoder, kMerkleLeaves), encoderBuffer(encoder, kLeafScratch)};
    if (ensureEncodeDeviceBuffers({{&b.leaves, 4 * uint64_t{count}}, {&b.scratch, 4 * uint64_t{count}}}) !=
        Error::None) {
        std::fprintf(stderr, "warning: encode merkle scratch alloc failed; trailer site will recompute the root\n");
        return;
    }
    Error seg_rc = Error::None, combine_rc = Error::None;
    if (launchLeaves(b, input, len, chunk_size, count, &seg_rc, &combine_rc) != Error::None) {
        std::fprintf(stderr,
                     "warning: encode merkle chain dispatch failed (seg_rc=%s cb_rc=%s); trailer site will recompute\n",
                     errorName(seg_rc), errorName(combine_rc));
        return;
    }
    encoder.merkle_leaves_done = count;
    encoder.merkle_leaves_valid = true;
}

std::optional<uint32_t> deviceLeavesRoot(EncoderState& encoder, uint64_t len, uint64_t chunk_size) {
    if (!encoder.merkle_leaves_valid || chunk_size == 0 || encoder.merkle_chunk_count != ceilDiv(len, chunk_size))
        return std::nullopt;
    return rootOfLeaves(encoderBuffer(encoder, kMerkleLeaves).handle, encoder.merkle_chunk_count);
}

std::optional<uint32_t> computeDeviceMerkleRoot(EncoderState& encoder, DeviceBufferHandle src, uint64_t len,
                                                uint64_t leaf_size) {
    if (leaf_size == 0 || len == 0 || !g_enc_launch_kernel || !deviceMerkleAvailable()) return std::nullopt;
    const uint64_t count = ceilDiv(len, leaf_size);
    if (count > UINT32_MAX || leaf_size > UINT32_MAX) return std::nullopt;
    const LeafBuffers b{encoderBuffer(encoder, kMerkleLeaves), encoderBuffer(encoder, kLeafScratch)};
    if (ensureEncodeDeviceBuffers({{&b.leaves, 4 * count}, {&b.scratch, 4 * count}}) != Error::None)
        return std::nullopt;
    // The body's leaves of this frame, if any, are overwritten.
    encoder.merkle_leaves_valid = false;
    Error seg_rc = Error::None, combine_rc = Error::None;
    if (launchLeaves(b, src, len, static_cast<uint32_t>(leaf_size), static_cast<uint32_t>(count), &seg_rc,
                     &combine_rc) != Error::None)
        return std::nullopt;
    return rootOfLeaves(b.leaves.handle, static_cast<uint32_t>(count));
}

std::optional<uint32_t> deviceMerkleRoot(const uint8_t* src, uint64_t len, uint64_t chunk_size,
                                         EncoderState& encoder) {
    DeviceBuffer input{};
    std::optional<uint32_t> root;
    if (ensureEncodeDeviceBuffer(input, len) == Error::None &&
        copySourceToDevice(src, len, encoder, input.handle) == Error::None)
        root = computeDeviceMerkleRoot(encoder, input.handle, len, chunk_size);
    freeEncodeDeviceBuffer(input);
    return root;
}

bool writeMerkleRootOnDevice(EncoderState& encoder, DeviceBufferHandle frame, uint64_t offset) {
    const uint32_t count = encoder.merkle_chunk_count;
    const DeviceBuffer& leaves = encoderBuffer(encoder, kMerkleLeaves);
    // The kernel takes 32-bit byte offsets and lengths.
    if (!encoder.merkle_leaves_valid || count == 0 || count > kMaxRootWriteLeaves || !leaves.handle ||
        offset > UINT32_MAX - 4 || !gpuOps().ctxSynchronize)
        return false;
    const std::optional<KernelHandle> kernel = getEncodePipeline(&EncodeKernelHandles::merkle_root_write_fn);
    if (!kernel) return false;
    return launchEncodeKernel(nullptr, nullptr, *kernel, kRootWriteShape, 1, {leaves.handle, frame},
                              {count, static_cast<uint32_t>(offset)}) == Error::None &&
           gpuOps().ctxSynchronize() == Error::None;
}

}  // namespace kvn
