#include "cuda/decode/mega_decode.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/format/frame_header.h"
#include "core/interface/backend.h"
#include "core/timing/timing_records.h"
#include "core/format/size_math.h"
#include "core/platform/platform.h"
#include "cuda/decode/mega_diagnostics.h"
#include "cuda/device/cuda_context.h"
#include "cuda/device/kernel_table.h"
#include "kernels/format_constants.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/device_frame_decode.h"
#include "pipeline/decode/device_walk.h"
#include "pipeline/decode/lz_dispatch.h"

namespace kvn {
namespace {

constexpr uint32_t kHeadBytes = 64;
constexpr uint32_t kGroupX = 32;
constexpr uint32_t kGroupY = 4;
constexpr uint32_t kDynamicShared = 8192;
constexpr uint32_t kDefaultSmCount = 24;
constexpr int kPreferredCarveout = 9;
constexpr int kMaxCarveout = 100;

// Workspace: fixed buffers, then bytes per list slot and per tile slot.
constexpr uint64_t kDescBytes = uint64_t{kWalkDescCapacity} * KVN_CHUNK_DESC_BYTES;
constexpr uint64_t kStartsBytes = uint64_t{kWalkDescCapacity} * 4;
constexpr uint64_t kMetaBytes = sizeof(MegaMeta);
constexpr uint64_t kCounterBytes = 32;
constexpr uint64_t kTileListBytes = 1024;
constexpr uint64_t kProfileBytes = kMegaProfileSlots * 8;
constexpr uint64_t kLeapHeaderBytes = KVN_LEAP_HEADER_WORDS * 4;
constexpr uint64_t kLeapWarpBytes = (KVN_LEAP_RESULT_WORDS + 2 * KVN_LEAP_WARP_ENTRIES) * 4;
constexpr uint64_t kHuffScanBytes = KVN_SCAN_HUFF_DESC_WORDS * 4;  // a scan list entry
constexpr uint64_t kRawScanBytes = KVN_SCAN_RAW_DESC_WORDS * 4;
constexpr uint64_t kScanBytes = 4 * kHuffScanBytes + 2 * kRawScanBytes;
constexpr uint64_t kHuffListBytes = KVN_HUFF_DEC_DESC_WORDS * 4;
constexpr uint64_t kRawListBytes = 2 * KVN_RAW_OFF16_DESC_BYTES;  // both halves of a sub-chunk
constexpr uint64_t kMergedBytes = 4 * kHuffListBytes;
constexpr uint64_t kTablesBytes = 4 * KVN_HUFF_LUT_ENTRIES * 4;  // four tables per tile slot
constexpr uint64_t kScratchBytes = 3 * uint64_t{KVN_SUBCHUNK_SIZE};
// What a tile slot costs, and the share of the free memory tiles may take.
constexpr uint64_t kTileSlotBytes = 409600;
// 32-bit scratch offsets of 131072-byte slots; the tile list's 254 tiles.
constexpr uint64_t kMaxListSlots = 32767;
constexpr uint64_t kMaxTiles = 254;
// Enough tile slots that a tile of whole chunks stays inside the tile list,
// with room for chunks that end short of a full sub-chunk.
constexpr uint64_t kTileSlack = 16;
constexpr uint64_t kMinTileSlots = 2;  // the sub-chunks of the largest chunk

// Parameter kinds in order, as the kernel's table lists them.
constexpr const char* kParamKinds = "BSBASBSBBBBBBBBBBBBBBBBBBSAASS";

struct Workspace {
    CuDevicePtr descs, meta, starts, scan, huff[4], raw, counters, merged, tables, scratch, tiles, leap;
};

CuDevicePtr slotAddress(const DecoderState& decoder, DecodeSlot slot) { return slotHandle(decoder, slot); }

// Grows the workspace in the order the kernel's parameters name it. The scan
// area holds the four Huffman lists and then the two stored-half lists.
Error growWorkspace(DecoderState& decoder, uint64_t slots, uint64_t tile_slots, uint32_t grid, Workspace* w) {
    KVN_TRY(ensureDeviceSlot(decoder, kWalkDescs, kDescBytes));
    KVN_TRY(ensureDeviceSlot(decoder, kWalkMeta, kMetaBytes));
    KVN_TRY(ensureDeviceSlot(decoder, kSubchunkStarts, kStartsBytes));
    KVN_TRY(ensureDeviceSlot(decoder, kScanLists, kScanBytes * slots));
    constexpr DecodeSlot kHuffSlots[4] = {kHuffList0, kHuffList1, kHuffList2, kHuffList3};
    for (DecodeSlot slot : kHuffSlots) KVN_TRY(ensureDeviceSlot(decoder, slot, kHuffListBytes * slots));
    KVN_TRY(ensureDeviceSlot(decoder, kOff16List, kRawListBytes * slots));
    KVN_TRY(ensureDeviceSlot(decoder, kDescCounters, kCounterBytes));
    KVN_TRY(ensureDeviceSlot(decoder, kMergedDescs, kMergedBytes * slots));
    KVN_TRY(ensureDeviceSlot(decoder, kHuffLuts, kTablesBytes * tile_slots));
    KVN_TRY(ensureDeviceSlot(decoder, kEntropyScratch, kScratchBytes * tile_slots));
    // The tile list takes the slot of a windowed batch's window tables.
    KVN_TRY(ensureDeviceSlot(decoder, kWindowTables, kTileListBytes));
    // The leap walk's control block: header words, then each warp's result and candidates.
    const bool leap = !envPresent("KVN_WALK_SERIAL");
    if (leap) KVN_TRY(ensureDeviceSlot(decoder, kLeapControl, kLeapHeaderBytes + kLeapWarpBytes * kGroupY * grid));
    w->descs = slotAddress(decoder, kWalkDescs);
    w->meta = slotAddress(decoder, kWalkMeta);
    w->starts = slotAddress(decoder, kSubchunkStarts);
    w->scan = slotAddress(decoder, kScanLists);
    for (uint32_t i = 0; i < 4; ++i) w->huff[i] = slotAddress(decoder, kHuffSlots[i]);
    w->raw = slotAddress(decoder, kOff16List);
    w->counters = slotAddress(decoder, kDescCounters);
    w->merged = slotAddress(decoder, kMergedDescs);
    w->tables = slotAddress(decoder, kHuffLuts);
    w->scratch = slotAddress(decoder, kEntropyScratch);
    w->tiles = slotAddress(decoder, kWindowTables);
    w->leap = leap ? slotAddress(decoder, kLeapControl) : 0;
    return Error::None;
}

// The scan lists, the counters and MegaMeta start at zero.
Error clearWorkspace(const DecoderState& decoder, const Workspace& w) {
    const GpuOpsTable& ops = gpuOps();
    const uint64_t scan = decoder.device_slots[kScanLists].capacity;
    if (ops.memsetD8Async) {
        KVN_TRY(checkCopy(ops.memsetD8Async(w.scan, 0, scan, decoder.stream)));
        KVN_TRY(checkCopy(ops.memsetD8Async(w.counters, 0, kCounterBytes, decoder.stream)));
        return checkCopy(ops.memsetD8Async(w.meta, 0, kMetaBytes, decoder.stream));
    }
    if (!ops.memsetD8 || !ops.ctxSynchronize) return Error::BackendNotAvailable;
    KVN_TRY(checkCopy(ops.memsetD8(w.scan, 0, scan)));
    KVN_TRY(checkCopy(ops.memsetD8(w.counters, 0, kCounterBytes)));
    KVN_TRY(checkCopy(ops.memsetD8(w.meta, 0, kMetaBytes)));
    return checkSync(ops.ctxSynchronize());
}

// Groups of the grid: every one resident at once.
Error gridSize(KernelHandle kernel, uint32_t* grid) {
    const CudaContext& ctx = cudaContext();
    if (ctx.cu.cuFuncSetAttribute) ctx.cu.cuFuncSetAttribute(kernel, kPreferredCarveout, kMaxCarveout);
    int per_sm = 0;
    if (!ctx.cu.cuOccupancyMaxActiveBlocksPerMultiprocessor ||
        ctx.cu.cuOccupancyMaxActiveBlocksPerMultiprocessor(&per_sm, kernel, int(kGroupX * kGroupY), kDynamicShared) !=
            kCuSuccess)
        return Error::BackendNotAvailable;
    const uint32_t sms = ctx.sm_count ? ctx.sm_count : kDefaultSmCount;
    *grid = sms * uint32_t(std::max(1, per_sm));
    return Error::None;
}

// The first frame's header, read from the device.
Error readFirstHeader(CuDevicePtr src, uint32_t src_len, FrameHeader* header) {
    const CudaFunctions& cu = cudaContext().cu;
    uint8_t head[kHeadBytes] = {};
    const uint32_t got = std::min(src_len, kHeadBytes);
    if (!cu.cuMemcpyDtoH || (got != 0 && cu.cuMemcpyDtoH(head, src, got) != kCuSuccess)) return Error::BadMode;
    *header = parseFrameHeader(head, got);
    if (header->error != Error::None || (header->flags & kFrameWrtSection) != 0) return Error::BadMode;
    return Error::None;
}

// The kernel as built: CUDA-only, bound, with the parameters this launch passes.
Error megaKernel(KernelHandle* kernel) {
    if (!init()) return Error::BackendNotAvailable;
    const CudaContext& ctx = cudaContext();
    *kernel = ctx.decode_kernels.mega_decode_fn;
    if (!*kernel) return Error::KernelMissing;
    if (!ctx.cu.cuLaunchCooperativeKernel || !ctx.cu.cuStreamSynchronize) return Error::BackendNotAvailable;
    const KernelParams* table = kernelParamsOf(*kernel);
    if (!table || std::strcmp(table->kinds, kParamKinds) != 0) return Error::BadRequest;
    return Error::None;
}

class ProfileBuffer {
public:
    ProfileBuffer() = default;
    ~ProfileBuffer() {
        if (address_ != 0) gpuOps().memFree(address_);
    }
    ProfileBuffer(const ProfileBuffer&) = delete;
    ProfileBuffer& operator=(const ProfileBuffer&) = delete;
    // An allocation that fails leaves profiling off.
    Error open(StreamHandle stream) {
        const GpuOpsTable& ops = gpuOps();
        if (!ops.memAlloc || !ops.memFree) return Error::BackendNotAvailable;
        if (ops.memAlloc(&address_, kProfileBytes) != Error::None) address_ = 0;
        if (address_ != 0 && ops.memsetD8Async) return checkCopy(ops.memsetD8Async(address_, 0, kProfileBytes, stream));
        if (address_ != 0 && ops.memsetD8) return checkCopy(ops.memsetD8(address_, 0, kProfileBytes));
        return Error::None;
    }
    CuDevicePtr address() const { return address_; }

private:
    uint64_t address_ = 0;
};

struct Launch {
    KernelHandle kernel;
    uint32_t grid;
    CuStream stream;
};

// One u64 or u32 value per parameter; the driver reads each at its pointer.
struct Arguments {
    uint64_t values[30];
    void* pointers[30];
};

void fillArguments(CuDevicePtr src, uint32_t src_len, CuDevicePtr dst, const DecoderState& decoder, const Workspace& w,
                   uint32_t dst_cap, uint64_t slots, uint64_t tile_slots, CuDevicePtr profile, Arguments* a) {
    const uint64_t values[30] = {src,
                                 src_len,
                                 dst,
                                 decoder.dict_buffer_len != 0 ? decoder.dict_buffer.handle : 0,
                                 uint32_t(decoder.dict_buffer_len),
                                 w.descs,
                                 kWalkDescCapacity,
                                 w.meta,
                                 w.starts,
                                 w.scan,
                                 w.scan + kHuffScanBytes * slots,
                                 w.scan + 2 * kHuffScanBytes * slots,
                                 w.scan + 3 * kHuffScanBytes * slots,
                                 w.scan + 4 * kHuffScanBytes * slots,
                                 w.scan + (4 * kHuffScanBytes + kRawScanBytes) * slots,
                                 w.huff[0],
                                 w.huff[1],
                                 w.huff[2],
                                 w.huff[3],
                                 w.raw,
                                 w.counters,
                                 w.merged,
                                 w.tables,
                                 w.scratch,
                                 w.tiles,
                                 tile_slots,
                                 w.leap,
                                 profile,
                                 dst_cap,
                                 slots};
    for (uint32_t i = 0; i < 30; ++i) {
        a->values[i] = values[i];
        a->pointers[i] = &a->values[i];
    }
}

MegaDecode runMega(CuDevicePtr src, uint32_t src_len, CuDevicePtr dst, DecoderState& decoder, uint32_t dst_cap) {
    MegaHostTimes times{};
    times.start = hostTimeMs();
    FrameHeader header{};
    if (Error e = readFirstHeader(src, src_len, &header); e != Error::None) return {0, e, {}};
    if (Error e = useFrameDictionary(decoder, header); e != Error::None) return {0, e, {}};
    KernelHandle kernel = nullptr;
    if (Error e = megaKernel(&kernel); e != Error::None) return {0, e, {}};
    const GpuOpsTable& ops = gpuOps();
    uint64_t free_bytes = 0, total_bytes = 0;
    if (!ops.memGetInfo || ops.memGetInfo(&free_bytes, &total_bytes) != Error::None) free_bytes = 0;
    const uint64_t held =
        decoder.device_slots[kEntropyScratch].capacity + decoder.device_slots[kHuffLuts].capacity;
    const uint64_t slots = megaListSlots(src_len, dst_cap);
    const uint64_t tile_slots = megaTileSlots(slots, dst_cap, free_bytes, held);
    uint32_t grid = 0;
    if (Error e = gridSize(kernel, &grid); e != Error::None) return {0, e, {}};
    Workspace w{};
    if (Error e = growWorkspace(decoder, slots, tile_slots, grid, &w); e != Error::None) return {0, e, {}};
    times.workspace = hostTimeMs();
    if (Error e = clearWorkspace(decoder, w); e != Error::None) return {0, e, {}};
    times.memsets = hostTimeMs();
    ProfileBuffer profile;
    if (envPresent("KVN_MEGA_PROFILE")) {
        if (Error e = profile.open(decoder.stream); e != Error::None) return {0, e, {}};
    }
    Arguments args{};
    fillArguments(src, src_len, dst, decoder, w, dst_cap, slots, tile_slots, profile.address(), &args);
    times.prealloc = hostTimeMs();
    const CudaFunctions& cu = cudaContext().cu;
    const bool debug = envPresent("KVN_MEGA_DEBUG");
    const CuStream stream = reinterpret_cast<CuStream>(decoder.stream);
    const KernelTiming timing = beginKernelTiming(backend().deviceOps(), decoder.record_timings,
                                                  decoder.pending_timings, "kvnD2dMegaDecodeKernel", decoder.stream);
    const CuResult launched = cu.cuLaunchCooperativeKernel(kernel, grid, 1, 1, kGroupX, kGroupY, 1, kDynamicShared,
                                                           stream, args.pointers);
    if (launched == kCuSuccess && timing.ok && ops.eventRecord) ops.eventRecord(timing.end, decoder.stream);
    times.launch = hostTimeMs();
    if (launched != kCuSuccess) {
        if (debug) printMegaLaunchFailed(launched, grid);
        return {0, Error::KernelLaunchFailed, {}};
    }
    // Every status and byte below is read once the stream has finished.
    const CuResult synced = cu.cuStreamSynchronize(stream);
    times.sync = hostTimeMs();
    if (synced != kCuSuccess) {
        if (debug) printMegaSyncFailed(synced);
        return {0, Error::SyncFailed, {}};
    }
    if (debug) printMegaLaunched(grid);
    if (!cu.cuMemcpyDtoH) return {0, Error::BackendNotAvailable, {}};
    MegaMeta meta{};
    uint32_t counters[kCounterBytes / 4] = {};
    if (cu.cuMemcpyDtoH(&meta, w.meta, sizeof meta) != kCuSuccess ||
        cu.cuMemcpyDtoH(counters, w.counters, sizeof counters) != kCuSuccess)
        return {0, Error::CopyFailed, {}};
    times.d2h = hostTimeMs();
    if (meta.status != KVN_WALK_OK) {
        if (debug) printMegaWalkFault(meta);
        return {0, Error::BadMode, meta};
    }
    if (const char* path = envText("KVN_WALK_DUMP")) {
        if (Error e = writeWalkDump(path, meta, w.descs, w.starts); e != Error::None) return {0, e, meta};
    }
    if (profile.address() != 0) {
        uint64_t slots_read[kMegaProfileSlots] = {};
        if (cu.cuMemcpyDtoH(slots_read, profile.address(), sizeof slots_read) != kCuSuccess)
            return {0, Error::CopyFailed, meta};
        printMegaDiagnostics(slots_read);
    }
    times.free = hostTimeMs();
    if (envPresent("KVN_MEGA_HOST_PROFILE")) printMegaHostProfile(times);
    // A chunk whose data left output unwritten: a corrupt frame.
    if (Error e = lzStatusError(counters[KVN_MEGA_COUNTER_LZ_STATUS]); e != Error::None) return {0, e, meta};
    return {meta.decoded, Error::None, meta};
}

}  // namespace

uint64_t megaListSlots(uint32_t src_len, uint32_t dst_cap) {
    const uint64_t chunks = std::min<uint64_t>({kWalkDescCapacity, src_len / 3, dst_cap});
    return std::clamp<uint64_t>(ceilDiv(dst_cap, KVN_SUBCHUNK_SIZE) + chunks, 1, kMaxListSlots);
}

// Slots for the decoded bytes' full sub-chunks and a few more, never fewer
// than keep the tiles inside the tile list, within three fifths of the free
// memory (with what the two buffers hold already) when the device tells it;
// KVN_MEGA_TILE_SLOTS lowers it (at least 2).
uint64_t megaTileSlots(uint64_t list_slots, uint32_t dst_cap, uint64_t free_bytes, uint64_t held_bytes) {
    uint64_t slots = ceilDiv(dst_cap, KVN_SUBCHUNK_SIZE) + kTileSlack;
    slots = std::max(slots, ceilDiv(list_slots, kMaxTiles / 2) + kMinTileSlots);
    if (free_bytes != 0) slots = std::min(slots, std::max((free_bytes * 3 / 5 + held_bytes) / kTileSlotBytes, kMinTileSlots));
    if (const std::optional<uint64_t> cap = envInteger("KVN_MEGA_TILE_SLOTS", kMaxListSlots))
        slots = std::min(slots, std::max(*cap, kMinTileSlots));
    return std::clamp(slots, kMinTileSlots, std::max(list_slots, kMinTileSlots));
}

MegaDecode decodeMega(CuDevicePtr src, uint32_t src_len, CuDevicePtr dst, DecoderState* decoder, uint32_t dst_cap) {
    if (Error e = ensureOwnStream(*decoder); e != Error::None) return {0, e, {}};
    const FrameStream stream(*decoder);
    return runMega(src, src_len, dst, *decoder, dst_cap);
}

}  // namespace kvn
