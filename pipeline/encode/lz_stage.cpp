// The LZ stage of a frame body: the encode kernel of the level's parse over
// every sub-chunk of the frame, in as few launches as the table memory and
// the device's bound on one launch allow.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "core/encode/frame_geometry.h"
#include "core/encode/frame_limits.h"
#include "core/encode/level_table.h"
#include "core/encode/lz_batch_plan.h"
#include "core/encode/min_distance_floor.h"
#include "core/format/size_math.h"
#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/body_encode.h"
#include "pipeline/encode/device_merkle.h"
#include "pipeline/encode/encode_diag_dump.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/encode_launch.h"
#include "pipeline/encode/encode_stream.h"
#include "pipeline/encode/encoder_buffers.h"
#include "pipeline/encode/frame_source.h"
#include "pipeline/encode/sort_prepass.h"

namespace kvn {
namespace {

constexpr uint64_t kGreedy16MaxSubChunk = 65536;

uint32_t low(uint64_t v) { return static_cast<uint32_t>(v); }
uint32_t high(uint64_t v) { return static_cast<uint32_t>(v >> 32); }

bool sortParseBuilt() {
    const EncodeKernelHandles& k = encodeKernels();
    return k.lz_sort_parse_fn && k.sort_build_keys_fn && k.sort_radix_fn && k.sort_discover_fn;
}

bool outOfMemory(Error e) { return e == Error::OutOfDeviceMemory || e == Error::OutOfMemory; }

// The launch plan of one frame.
struct LzPlan {
    ParseMode mode = ParseMode::Greedy;
    bool greedy16 = false;
    uint32_t bits = 0;
    uint32_t floor = kDefaultMinDistance;
    uint64_t batch = 0;   // sub-chunks per launch
    uint64_t tables = 0;  // greedy: tables shared by every launch
};

uint64_t greedyTableBytes(uint32_t bits, bool greedy16) { return (greedy16 ? 2ull : 4ull) << bits; }

// Greedy tables are shared by the groups of a launch: G of them, in pairs up
// to the device's block cap.
uint64_t greedyTables(uint64_t aw, uint32_t spc, uint32_t bits, bool greedy16) {
    const uint64_t windows = ceilDiv(aw, spc);
    const uint64_t block_cap = lzBlockCap(greedyTableBytes(bits, greedy16));
    return std::max<uint64_t>(2 * std::min(ceilDiv(windows, 2), block_cap), 1);
}

// Grows the table buffer for the plan's batch; at level 5 each sub-chunk of a
// batch has a workspace of its own, and a refused allocation halves the batch.
Error allocateTables(LzPlan& plan, DeviceBuffer& tables) {
    if (plan.mode == ParseMode::Greedy) {
        return ensureEncodeDeviceBuffer(tables, plan.tables * greedyTableBytes(plan.bits, plan.greedy16));
    }
    const uint64_t entries =
        plan.mode == ParseMode::Chain ? chainWorkspaceEntries(plan.bits) : kSortParseWorkspaceEntries;
    plan.batch = std::min(plan.batch, workspaceBatchLimit(entries));
    while (plan.batch > 0) {
        const Error e = ensureEncodeDeviceBuffer(tables, plan.batch * entries * 4);
        if (!outOfMemory(e)) return e;
        plan.batch = halvedLzBatch(plan.batch);
    }
    return Error::GpuPipelineFailed;
}

// The device's cache window over the greedy tables, closed however the
// stage ends.
class LzTableWindow {
public:
    LzTableWindow(const LzPlan& plan, const DeviceBuffer& tables, StreamHandle stream)
        : stream_(stream),
          open_(plan.mode == ParseMode::Greedy &&
                openLzTableWindow(stream, tables.handle, plan.tables * greedyTableBytes(plan.bits, plan.greedy16))) {}
    ~LzTableWindow() { close(); }
    void close() {
        if (open_) closeLzTableWindow(stream_);
        open_ = false;
    }
    LzTableWindow(const LzTableWindow&) = delete;
    LzTableWindow& operator=(const LzTableWindow&) = delete;

private:
    StreamHandle stream_;
    bool open_;
};

// Each sub-chunk's LZ bytes read back into a host copy laid out like the
// device slots, for the library's report.
Error reportOnLzOutput(const LzStage& stage, DeviceBufferHandle lz_output, uint64_t bytes, uint32_t floor,
                       int32_t level) {
    std::vector<uint8_t> copy;
    try {
        copy.resize(bytes);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    for (size_t i = 0; i < stage.descs.size(); ++i) {
        const uint32_t size = stage.lz_sizes[i];
        if (size != 0)
            KVN_TRY(gpuOps().memcpyDtoHSrcOffset(copy.data() + stage.descs[i].out_offset, lz_output, size,
                                                 stage.descs[i].out_offset));
    }
    reportLzOutput(stage.descs.data(), stage.lz_sizes.data(), stage.descs.size(), copy.data(), floor, level);
    return Error::None;
}

// The host side of the launches' descriptors and sizes, laid out as the
// device buffers hold them. They outlive the stretch that copies them.
struct LzLaunchRecords {
    std::vector<uint8_t> descs;
    std::vector<uint32_t> sizes;  // zeros up, the kernels' sizes back

    Error lay(const LzLaunchLayout& layout, const std::vector<CompressChunkDesc>& frame_descs) {
        try {
            descs.assign(layout.desc_bytes, 0);
            sizes.assign(layout.size_bytes / 4, 0);
        } catch (const std::bad_alloc&) {
            return Error::OutOfMemory;
        }
        for (const LzLaunch& launch : layout.launches)
            std::memcpy(descs.data() + launch.desc_offset, frame_descs.data() + launch.first,
                        launch.count * sizeof(CompressChunkDesc));
        return Error::None;
    }
    void takeSizes(const LzLaunchLayout& layout, std::vector<uint32_t>& lz_sizes) const {
        for (const LzLaunch& launch : layout.launches)
            std::copy_n(sizes.begin() + launch.size_offset / 4, launch.count, lz_sizes.begin() + launch.first);
    }
};

KernelHandle lzKernel(const LzPlan& plan) {
    const EncodeKernelHandles& k = encodeKernels();
    switch (plan.mode) {
        case ParseMode::Chain: return k.lz_chain_fn;
        case ParseMode::SortParse: return k.lz_sort_parse_fn;
        case ParseMode::Greedy: break;
    }
    return plan.greedy16 ? k.lz_greedy16_fn : k.lz_greedy_fn;
}

}  // namespace

Error runLzStage(const BodyRequest& request, EncoderState& encoder, LzStage& stage) {
    const double stage_start = hostTimeMs();
    const FrameGeometry& g = stage.geometry;
    try {
        stage.descs = buildChunkDescriptors(g, request.len);
        stage.lz_sizes.assign(stage.descs.size(), 0);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    const GpuOpsTable& ops = gpuOps();
    if (!ensureEncodePipelines() || !ops.memsetD8)
        return Error::GpuPipelineFailed;
    const uint64_t aw = g.sub_chunks;
    const uint32_t spc = g.subs_per_group;
    DeviceBuffer& input = encoderBuffer(encoder, kInputCopy);
    DeviceBuffer& lz_output = encoderBuffer(encoder, kLzOutput);
    DeviceBuffer& descs = encoderBuffer(encoder, kDescBuffer);
    DeviceBuffer& sizes = encoderBuffer(encoder, kLzSizes);
    DeviceBuffer& diag = encoderBuffer(encoder, kDiagBuffer);
    KVN_TRY(ensureEncodeDeviceBuffers(
        {{&input, inputCopyBytes(request.len)}, {&lz_output, lzOutputBytes(g)}, {&diag, kEncodeDiagBytes}}));

    const LevelParams& level = levelParams(request.level);
    const uint64_t longest_sub = std::min<uint64_t>(g.sub, request.len);
    LzPlan plan;
    // A dictionary's table is hashed with the level's bits, which its lookups must use.
    const uint32_t bits_override = encoder.dict_table_ready ? 0 : lzHashBitsOverride();
    plan.bits = bits_override ? bits_override : level.hash_bits;
    plan.mode = lzParseMode({request.level, spc, encoder.dict_table_ready, longest_sub,
                             envPresent("KVN_NO_SORT_PARSE"), sortParseBuilt()});
    // 16-bit table entries when every group is one sub-chunk whose
    // positions fit them.
    plan.greedy16 = plan.mode == ParseMode::Greedy && spc < 2 && !envPresent("KVN_FORCE_HASH32") &&
                    deviceHasStorage16() && longest_sub <= kGreedy16MaxSubChunk;
    plan.floor = minDistanceFloor(encoder.min_dist_floor, encoder.dict_table_ready || plan.mode == ParseMode::Chain,
                                  minDistIgnoredNotice());
    plan.batch = lzBatch(aw, lzForcedBatch(),
                         boundedLzBatch(lzLaunchInputBytes(), g.sub, spc, deviceBindingAlignment()));
    if (plan.mode == ParseMode::Greedy) plan.tables = greedyTables(aw, spc, plan.bits, plan.greedy16);
    DeviceBuffer& hash_tables = encoderBuffer(encoder, kHashTables);
    KVN_TRY(allocateTables(plan, hash_tables));
    plan.batch = wholeGroupBatch(plan.batch, spc);
    const KernelHandle kernel = lzKernel(plan);
    if (!kernel) return Error::KernelMissing;

    // Every launch's work is queued on the encoder's stream, one after the
    // other, and waited for once, when the sizes come back: each launch binds
    // its own part of the descriptors and sizes, all uploaded up front.
    const LzLaunchLayout layout = lzLaunchLayout(aw, plan.batch, deviceBindingAlignment());
    KVN_TRY(ensureEncodeDeviceBuffers({{&descs, layout.desc_bytes}, {&sizes, layout.size_bytes}}));
    LzLaunchRecords records;
    KVN_TRY(records.lay(layout, stage.descs));
    KVN_TRY(ensureEncodeStream(encoder));
    EncodeStretch stretch(encoder);
    KVN_TRY(copySourceToDevice(request.src, request.len, encoder, input.handle, stretch.stream()));
    KVN_TRY(stretch.upload(descs.handle, records.descs.data(), layout.desc_bytes));
    KVN_TRY(stretch.upload(sizes.handle, records.sizes.data(), layout.size_bytes));

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
    // The dump shows the records of the whole frame.
    if (envPresent("KVN_DIAG_DUMP")) KVN_TRY(ops.memsetD8(diag.handle, 0, kEncodeDiagBytes));

    const uint32_t mode = static_cast<uint32_t>(plan.mode);
    LzTableWindow table_window(plan, hash_tables, encoder.own_stream);
    const double launches_start = hostTimeMs();
    for (const LzLaunch& launch : layout.launches) {
        // Sort-parse: the launch's keys, sort and candidates, then the parse,
        // one after another on the stream (the workspace is the tables').
        if (plan.mode == ParseMode::SortParse) {
            KVN_TRY(runSortPrepass({input.handle, descs.handle, low(launch.count), plan.floor, table_address,
                                    input_address, launch.desc_offset, stretch.stream()}));
            KVN_TRY(auditSortPrepass(
                {hash_tables.handle, input.handle, stage.descs.data() + launch.first, launch.first, launch.count}));
        }
        const double lz_mark = hostTimeMs();
        const uint64_t groups_of_batch = ceilDiv(launch.count, spc);
        const uint64_t groups =
            plan.mode == ParseMode::Greedy ? std::min(plan.tables, 2 * groups_of_batch) : groups_of_batch;
        // The stream orders the launches: the tables and workspaces of one
        // are free again when the next starts.
        const uint64_t offsets[] = {0, 0, launch.desc_offset, launch.size_offset, 0};
        KVN_TRY(launchEncodeKernelOn(
            stretch.stream(), &encoder, "kvnLzEncodeKernel", kernel, kLzEncodeShape, low(groups),
            {input.handle, lz_output.handle, descs.handle, sizes.handle},
            {low(launch.count), plan.bits, mode, level.insert_in_matches ? 1u : 0u, low(table_address),
             high(table_address), low(dict_address), high(dict_address), low(dict_table_address),
             high(dict_table_address), low(dict_len), 0, spc, 0, low(input_address), high(input_address),
             plan.greedy16 ? 1u : 0u, plan.floor},
            {diag.handle}, offsets));
        if (sortProfileOn()) {
            KVN_TRY(stretch.wait());
            printSortProfile("lz_encode(mode=" + std::to_string(mode) + ")", lz_mark);
        }
    }
    KVN_TRY(stretch.read(records.sizes.data(), sizes.handle, layout.size_bytes));
    KVN_TRY(stretch.wait());
    records.takeSizes(layout, stage.lz_sizes);
    if (const char* path = envText("KVN_DIAG_DUMP")) KVN_TRY(writeEncodeDiagDump(encoder, path));
    reportLzStageTimes(request.level, launches_start - stage_start, hostTimeMs() - launches_start);
    if (layout.launches.size() == 1 && lzOutputReportsWanted(request.level))
        KVN_TRY(reportOnLzOutput(stage, lz_output.handle, lzOutputBytes(g), plan.floor, request.level));
    // The stream scan and the assembly read every sub-chunk's descriptor and
    // LZ size in frame order from the device.
    if (!layout.packed) {
        KVN_TRY(stretch.upload(descs.handle, stage.descs.data(), aw * sizeof(CompressChunkDesc)));
        KVN_TRY(stretch.upload(sizes.handle, stage.lz_sizes.data(), 4 * aw));
        KVN_TRY(stretch.wait());
    }
    // The tables are large and needed by this stage only.
    table_window.close();
    freeEncodeDeviceBuffer(hash_tables);
    // The Merkle leaves while the input is on the device: the trailer then
    // needs 4 bytes per chunk back instead of hashing the input on the host.
    if (encoder.merkle_leaves_wanted && deviceMerkleAvailable())
        hashDeviceLeaves(encoder, input.handle, request.len, encoder.merkle_chunk_size);
    return Error::None;
}

}  // namespace kvn
