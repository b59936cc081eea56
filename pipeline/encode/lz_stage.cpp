// The LZ stage of a frame body: one launch of the greedy encode kernel over
// every sub-chunk of the frame.
#include <algorithm>
#include <cstdio>

#include "core/encode/dictionary_table.h"
#include "core/encode/frame_geometry.h"
#include "core/encode/frame_limits.h"
#include "core/encode/level_table.h"
#include "core/format/size_math.h"
#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/body_encode.h"
#include "pipeline/encode/device_merkle.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/encode_launch.h"
#include "pipeline/encode/encoder_buffers.h"

namespace kvn {
namespace {

constexpr uint32_t kDefaultMinDistance = 8;
constexpr uint32_t kMaxMinDistance = 0xFFFF;
constexpr uint64_t kDiagBufferBytes = 0x20004;
constexpr uint64_t kGreedy16MaxSubChunk = 65536;

bool g_min_dist_notice_printed = false;

// The match-distance floor of this frame: the option, else KVN_MIN_DIST when
// it asks for more than 8; at least 8 and at most 0xFFFF. A dictionary match
// has no floor gate, so with a dictionary the floor stays 8.
uint32_t minDistanceFloor(uint32_t requested, bool dictionary) {
    uint32_t floor = requested;
    if (floor <= kDefaultMinDistance) {
        const std::optional<uint64_t> env = envInteger("KVN_MIN_DIST", UINT32_MAX);
        floor = env && *env > kDefaultMinDistance ? static_cast<uint32_t>(*env) : kDefaultMinDistance;
    }
    floor = std::min(floor, kMaxMinDistance);
    if (dictionary && floor > kDefaultMinDistance) {
        if (!g_min_dist_notice_printed) {
            g_min_dist_notice_printed = true;
            std::fprintf(stderr,
                         "warning: korvane_vk: min-dist floor ignored on this encode (dictionary or serial-chain "
                         "path has no floor gates)\n");
        }
        floor = kDefaultMinDistance;
    }
    return floor;
}

uint32_t low(uint64_t v) { return static_cast<uint32_t>(v); }
uint32_t high(uint64_t v) { return static_cast<uint32_t>(v >> 32); }

}  // namespace

Error runLzStage(const BodyRequest& request, EncoderState& encoder, LzStage& stage) {
    const FrameGeometry& g = stage.geometry;
    try {
        stage.descs = buildChunkDescriptors(g, request.len);
        stage.lz_sizes.assign(stage.descs.size(), 0);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    const GpuOpsTable& ops = gpuOps();
    if (!ensureEncodePipelines() || !ops.memcpyHtoD || !ops.memcpyDtoH || !ops.memsetD8 || !ops.ctxSynchronize)
        return Error::GpuPipelineFailed;
    const uint64_t aw = g.sub_chunks;
    DeviceBuffer& input = encoderBuffer(encoder, kInputCopy);
    DeviceBuffer& lz_output = encoderBuffer(encoder, kLzOutput);
    DeviceBuffer& descs = encoderBuffer(encoder, kDescBuffer);
    DeviceBuffer& sizes = encoderBuffer(encoder, kLzSizes);
    DeviceBuffer& diag = encoderBuffer(encoder, kDiagBuffer);
    KVN_TRY(ensureEncodeDeviceBuffers({{&input, inputCopyBytes(request.len)},
                                       {&lz_output, lzOutputBytes(g)},
                                       {&descs, aw * sizeof(CompressChunkDesc)},
                                       {&sizes, 4 * aw},
                                       {&diag, kDiagBufferBytes}}));

    // Greedy parse; 16-bit table entries when every group is one sub-chunk
    // whose positions fit them.
    const LevelParams& level = levelParams(request.level);
    const uint32_t bits = level.hash_bits;
    const uint64_t longest_sub = std::min<uint64_t>(g.sub, request.len);
    const bool greedy16 = g.subs_per_group < 2 && !envPresent("KVN_FORCE_HASH32") && deviceHasStorage16() &&
                          longest_sub <= kGreedy16MaxSubChunk;
    const uint32_t g16 = greedy16 ? 1 : 0;
    const uint64_t entries = (uint64_t{1} << bits) >> g16;
    const uint64_t windows = ceilDiv(aw, g.subs_per_group);
    const uint64_t table_cap = std::max<uint64_t>(0x8CCCCCu >> (bits - g16 + 2), 170);
    const uint64_t tables = std::max<uint64_t>(2 * std::min(ceilDiv(windows, 2), table_cap), 1);
    DeviceBuffer& hash_tables = encoderBuffer(encoder, kHashTables);
    KVN_TRY(ensureEncodeDeviceBuffer(hash_tables, tables * entries * 4));

    KVN_TRY(ops.memcpyHtoD(input.handle, request.src, request.len));
    KVN_TRY(ops.memcpyHtoD(descs.handle, stage.descs.data(), aw * sizeof(CompressChunkDesc)));
    KVN_TRY(ops.memsetD8(sizes.handle, 0, 4 * aw));
    KVN_TRY(ops.ctxSynchronize());

    const uint64_t table_address = bufferDeviceAddress(hash_tables.handle);
    const uint64_t input_address = bufferDeviceAddress(input.handle);
    uint64_t dict_address = 0, dict_table_address = 0, dict_len = 0;
    if (encoder.dict_table_ready) {
        dict_address = bufferDeviceAddress(encoderBuffer(encoder, kDictBytes).handle);
        dict_table_address = bufferDeviceAddress(encoderBuffer(encoder, kDictTable).handle);
        dict_len = encoder.dict_cache_len;
        if (!dict_address || !dict_table_address) return Error::GpuPipelineFailed;
    }
    if (!table_address || !input_address) return Error::GpuPipelineFailed;

    const KernelHandle kernel = greedy16 ? encodeKernels().lz_greedy16_fn : encodeKernels().lz_greedy_fn;
    const uint32_t floor = minDistanceFloor(encoder.min_dist_floor, encoder.dict_table_ready);
    const uint32_t groups = static_cast<uint32_t>(std::min<uint64_t>(tables, 2 * windows));
    KVN_TRY(launchEncodeKernel(
        &encoder, "kvnLzEncodeKernel", kernel, kLzEncodeShape, groups,
        {input.handle, lz_output.handle, descs.handle, sizes.handle, diag.handle},
        {low(aw), bits, kGreedyMode, level.insert_in_matches ? 1u : 0u, low(table_address), high(table_address),
         low(dict_address), high(dict_address), low(dict_table_address), high(dict_table_address), low(dict_len), 0,
         low(g.subs_per_group), 0, low(input_address), high(input_address), g16, floor}));
    KVN_TRY(ops.ctxSynchronize());
    KVN_TRY(ops.memcpyDtoH(stage.lz_sizes.data(), sizes.handle, 4 * aw));
    // The tables are large and needed by this launch only.
    freeEncodeDeviceBuffer(hash_tables);
    // The Merkle leaves while the input is on the device: the trailer then
    // needs 4 bytes per chunk back instead of hashing the input on the host.
    if (encoder.merkle_leaves_wanted && deviceMerkleAvailable())
        hashDeviceLeaves(encoder, input.handle, request.len, encoder.merkle_chunk_size);
    return Error::None;
}

}  // namespace kvn
