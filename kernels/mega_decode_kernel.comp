// The whole-input decode in one cooperative launch (CUDA only): the grid
// walks every frame of a device-resident input into chunk descriptors, then
// either decodes the chunks' stored streams (level codes 1 and 2) or scans
// the sub-chunks, compacts and merges their Huffman stream descriptors and,
// tile after tile, builds the tables, decodes the streams and runs the LZ
// decode. Grid barriers separate the phases; each phase runs the code of its
// standalone kernel (frame_walk.h, subchunk_scan.h, huffman_lut_build.h,
// huffman_stream_decode.h, lz_chunk_walk.h) with this kernel's hooks.
//
// Nothing is written past the destination capacity: the walk refuses more
// decoded bytes, and the LZ decode bounds every chunk by it. What the kernel
// does not take is a status in MegaMeta word 5 before anything is decoded:
// a frame the walk refuses, more sub-chunks than the lists hold (or than the
// 32-bit scratch offsets reach), more tiles than the tile list holds, a grid
// of fewer groups than the compaction uses. Output a chunk's data leaves
// unwritten is OR-ed into counter word 6 (KVN_LZ_STATUS_*).
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// The serial walk counts its steps (frame_walk.h); the budget matters on
// lavapipe only, and this kernel has no SPIR-V form.
KVN_CONST u32 kStepBudget = 65000u;

// Copies of overlapping matches at distances of 32 or more in 32-byte steps
// (lz_sequence.h; the decode LZ modules' global of the same name).
KVN_LAUNCH_SWITCH(g_kvn_floor_copy, 7)

// One window of tokens per warp of the group (lz_sequence.h), and the warp
// totals of the compaction's prefix sums.
KVN_SHARED(u32, s_tok_pos, 128)
KVN_SHARED(u32, s_lit_len, 128)
KVN_SHARED(u32, s_lit_pre, 128)
KVN_SHARED(u32, s_match_len, 128)
KVN_SHARED(u32, s_match_pre, 128)
KVN_SHARED(u32, s_dist, 128)
KVN_SHARED(u32, s_rep, 128)
KVN_SHARED(u32, s_off16_incl, 128)
KVN_SHARED(u32, s_warp_sums, 4)
// The leap walk's probes, 32 per warp.
KVN_SHARED(u32, s_plausible, 128)
// Warps 0 and 1 of a group each keep a Huffman table (or a table's work
// arrays while building it) in their 4096 bytes.
KVN_DYNAMIC_SHARED(u32, s_mega_dyn)

#define KVN_KERNEL kvnD2dMegaDecodeKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 4
#define KVN_SYNC KVN_SYNC_GRID
#define KVN_MIN_BLOCKS 8
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, src)                    \
    SCALAR(u32, src_len)                          \
    BUFFER(1, KVN_RW, u8, out_bytes)              \
    ADDRESS(KVN_RO, u8, dictionary)               \
    SCALAR(u32, dictionary_len)                   \
    BUFFER(2, KVN_RW, u32, descs)                 \
    SCALAR(u32, desc_capacity)                    \
    BUFFER(3, KVN_RW, u32, mega_meta)             \
    BUFFER(4, KVN_RW, u32, subchunk_starts)       \
    BUFFER(5, KVN_RW, u32, huff_literals)         \
    BUFFER(6, KVN_RW, u32, huff_tokens)           \
    BUFFER(7, KVN_RW, u32, huff_off16_high)       \
    BUFFER(8, KVN_RW, u32, huff_off16_low)        \
    BUFFER(9, KVN_RW, u32, raw_off16_high)        \
    BUFFER(10, KVN_RW, u32, raw_off16_low)        \
    BUFFER(11, KVN_RW, u32, compact_literals)     \
    BUFFER(12, KVN_RW, u32, compact_tokens)       \
    BUFFER(13, KVN_RW, u32, compact_off16_high)   \
    BUFFER(14, KVN_RW, u32, compact_off16_low)    \
    BUFFER(15, KVN_RW, u32, compact_raw_off16)    \
    BUFFER(16, KVN_RW, u32, list_counts)          \
    BUFFER(17, KVN_RW, u32, merged)               \
    BUFFER(18, KVN_RW, u32, luts)                 \
    BUFFER(19, KVN_RW, u8, scratch)               \
    BUFFER(20, KVN_RW, u32, tiles)                \
    SCALAR(u32, tile_slots)                       \
    ADDRESS(KVN_RW, u32, leap_control)            \
    ADDRESS(KVN_RW, u64, profile)                 \
    SCALAR(u32, dst_capacity)                     \
    SCALAR(u32, list_slots)
#include "kernels/kernel_begin.h"

// ---- MegaMeta, counters, tiles, profile slots -------------------------------
KVN_CONST u32 kMetaCount = 0u;
KVN_CONST u32 kMetaDecoded = 1u;
KVN_CONST u32 kMetaSubchunkSize = 2u;
KVN_CONST u32 kMetaPayloadBase = 3u;
KVN_CONST u32 kMetaPayloadLen = 4u;
KVN_CONST u32 kMetaStatus = 5u;
KVN_CONST u32 kMetaSubchunks = 6u;
KVN_CONST u32 kCountRaw = KVN_MEGA_COUNTER_RAW;
KVN_CONST u32 kCountMerged = KVN_MEGA_COUNTER_MERGED;
KVN_CONST u32 kCountLzStatus = KVN_MEGA_COUNTER_LZ_STATUS;
// The tile list: the count, 0, then each tile's end chunk.
KVN_CONST u32 kMaxTiles = 254u;
// A slot's scratch offsets are 32-bit: 32767 slots of 131072 bytes reach 2^32.
KVN_CONST u32 kMaxSubchunks = 32767u;
// The compaction gives each of the four Huffman lists a group of its own.
KVN_CONST u32 kMinGroups = 4u;
KVN_CONST u32 kTableWords = KVN_HUFF_LUT_ENTRIES;

KVN_CONST u32 kSlotStart = 0u;
KVN_CONST u32 kSlotWalk = 1u;
KVN_CONST u32 kSlotScan = 2u;
KVN_CONST u32 kSlotCompact = 3u;
KVN_CONST u32 kSlotMerge = 4u;
KVN_CONST u32 kSlotBuild = 5u;
KVN_CONST u32 kSlotDecode = 6u;
KVN_CONST u32 kSlotGather = 7u;
KVN_CONST u32 kSlotEnd = 8u;
KVN_CONST u32 kSlotLeapScan = 10u;
KVN_CONST u32 kSlotLeapReconcile = 11u;
KVN_CONST u32 kSlotLeapEmit = 12u;

// ---- Values every thread holds after the walk ------------------------------
// The walk's cells (frame_walk.h writes them through these).
u32* meta_count;
u32* meta_decoded;
u32* meta_subchunk_size;
u32* meta_payload_base;
u32* meta_payload_len;
u32* meta_status;
u32* subchunk_total;
// The leap walk's control block and its warps (every warp of the grid).
u32* ctl;
u32 warps;
// The first block payload of the input, where every src_off counts from.
const u8* payload;
u32 payload_end;
u32 subchunk_size;
u32 chunks_per_item;
bool huffman_road;
u32 tile_first_subchunk;  // a: the first sub-chunk of the tile being decoded
u32 dst_base;             // a x 131072
// The first frame's choices, which every later frame must share.
u32 first_level_high;
u32 first_dict_flag;
u32 first_dict_id;
// The warp's Huffman work arrays (dynamic shared memory).
u32* code_lengths;
u32* canonical_symbols;
u32* length_count;
u32* length_first_code;
u32* length_start;
u32* stream_table;
KvnAddress<u8> literal_area;
KvnAddress<u8> token_area;
KvnAddress<u8> off16_area;
KvnAddress<u32> lz_status;

KVN_FN u32 globalThread() { return kvnBlockIndex() * kvn_block_threads + kvnThreadIndex(); }
KVN_FN u32 globalWarp() { return kvnBlockIndex() * 4u + kvnWarpIndex(); }
KVN_FN u32 warpCount() { return kvnGridBlocks() * 4u; }
// Where the leap walk's warps run (frame_walk_leap.h).
KVN_FN u32 leapWarp() { return globalWarp(); }
KVN_FN u32 leapLane() { return kvnLane(); }
KVN_FN u32 leapThread() { return globalThread(); }
KVN_FN void leapWarpSync() { kvnWarpSync(); }
KVN_FN u32 leapProbeBase() { return kvnWarpIndex() * 32u; }

KVN_FN void stamp(u32 slot) {
    if (profile.data != nullptr && globalThread() == 0u) profile.data[slot] = kvnClock();
}
// Adds the cycles since `since` to a slot (global thread 0).
KVN_FN void addCycles(u32 slot, u64 since) {
    if (profile.data != nullptr && globalThread() == 0u) profile.data[slot] += kvnClock() - since;
}

// ---- Walk --------------------------------------------------------------------
KVN_CONST bool kMarkFrameFirst = true;
KVN_FN u32 walkDecodedCapacity() { return dst_capacity; }
#include "kernels/frame_reading.h"

// One dictionary, one side of level code 3 and no inverse transform for the
// whole input: later frames that differ are refused.
KVN_FN u32 walkRefusal(u32 pos, u32 frames, u32 flags) {
    if ((flags & KVN_FRAME_WRT_SECTION) != 0u || byteAt(pos + KVN_FRAME_OFF_BYTE_PLANE) >= 2u) {
        return KVN_WALK_MEGA_REFUSED;
    }
    u32 level_high = byteAt(pos + KVN_FRAME_OFF_LEVEL) >= 3u ? 1u : 0u;
    u32 dict_flag = flags & KVN_FRAME_DICT_ID;
    u32 dict_at = pos + KVN_FRAME_FIXED_HEADER_BYTES +
                  ((flags & KVN_FRAME_CONTENT_SIZE) != 0u ? KVN_FRAME_CONTENT_SIZE_BYTES : 0u);
    u32 dict_id = dict_flag != 0u ? readU32(dict_at) : 0u;
    if (frames == 0u) {
        first_level_high = level_high;
        first_dict_flag = dict_flag;
        first_dict_id = dict_id;
        return kWalkOk;
    }
    if (level_high != first_level_high || dict_flag != first_dict_flag || dict_id != first_dict_id) {
        return KVN_WALK_MEGA_REFUSED;
    }
    return kWalkOk;
}
#include "kernels/frame_walk.h"

KVN_FN u32 chunkSubchunkStart(u32 chunk, u32 count) {
    return chunk < count ? subchunk_starts[chunk] : mega_meta[kMetaSubchunks];
}

// Tiles of whole chunks whose sub-chunks fit the scratch slots.
KVN_FN u32 planTiles(u32 count) {
    u32 tile = 0u;
    u32 s = 0u;
    tiles[1] = 0u;
    while (s < count) {
        if (tile == kMaxTiles) return KVN_WALK_MEGA_TILES;
        u32 a = chunkSubchunkStart(s, count);
        u32 e = s + 1u;
        while (e < count && chunkSubchunkStart(e + 1u, count) - a <= tile_slots) e += 1u;
        if (chunkSubchunkStart(e, count) - a > tile_slots) return KVN_WALK_MEGA_TILES;
        tiles[2u + tile] = e;
        tile += 1u;
        s = e;
    }
    tiles[0] = tile;
    return kWalkOk;
}

KVN_FN void bindWalkCells() {
    // frame_walk.h writes each cell at index 0 of its own pointer.
    meta_count = mega_meta + kMetaCount;
    meta_decoded = mega_meta + kMetaDecoded;
    meta_subchunk_size = mega_meta + kMetaSubchunkSize;
    meta_payload_base = mega_meta + kMetaPayloadBase;
    meta_payload_len = mega_meta + kMetaPayloadLen;
    meta_status = mega_meta + kMetaStatus;
    subchunk_total = mega_meta + kMetaSubchunks;
}

// Global thread 0, after a good walk: what the later phases need of it.
KVN_FN void checkWalk() {
    if (mega_meta[kMetaStatus] != kWalkOk) return;
    u32 status = kWalkOk;
    if (kvnGridBlocks() < kMinGroups) status = KVN_WALK_MEGA_GRID;
    u32 total = mega_meta[kMetaSubchunks];
    if (total > list_slots || total > kMaxSubchunks) status = KVN_WALK_MEGA_SUBCHUNKS;
    if (status == kWalkOk) status = planTiles(mega_meta[kMetaCount]);
    if (status != kWalkOk) mega_meta[kMetaStatus] = status;
}

// The leap walk: the grid's warps follow each frame's chunk records in
// slices, global thread 0 sets frames up and joins the slices.
KVN_FN u32 leapState() { return ctl[KVN_LEAP_CTL_STATE]; }
#include "kernels/frame_walk_leap.h"
KVN_FN void leapWalk() {
    bool walking = true;
    while (walking) {
        leapSetUp();
        kvnGridSync();
        walking = leapState() == KVN_LEAP_STATE_READY;
        if (walking) {
            u64 t = kvnClock();
            leapFollow();
            kvnGridSync();
            addCycles(kSlotLeapScan, t);
            t = kvnClock();
            leapJoin();
            kvnGridSync();
            addCycles(kSlotLeapReconcile, t);
            t = kvnClock();
            walking = leapState() == KVN_LEAP_STATE_READY;
            leapEmit();
            kvnGridSync();
            addCycles(kSlotLeapEmit, t);
        }
    }
}

// The leap walk where every frame suits it, else the serial walk.
KVN_FN void walkAllFrames() {
    bindWalkCells();
    bool serial = leap_control.data == nullptr;
    if (!serial) {
        ctl = leap_control.data;
        warps = warpCount();
        leapSuitability();
        kvnGridSync();
        serial = ctl[KVN_LEAP_CTL_SERIAL] != 0u;
    }
    if (serial) {
        if (globalThread() == 0u) runWalk();
    } else {
        leapWalk();
    }
    if (globalThread() == 0u) checkWalk();
}

// ---- Scan ---------------------------------------------------------------------
#include "kernels/subchunk_streams.h"

// Sub-chunk g's decoded streams go to slot g of each area, numbered over the
// whole input; the tiles subtract their first slot.
KVN_FN u32 scanFirstSubchunk(u32 chunk) { return subchunk_starts[chunk]; }
KVN_FN u32 scanSlotAt(u32 g) { return g * KVN_SUBCHUNK_SIZE; }
KVN_FN u32 scanSlotBytes(u32 g) { return KVN_SUBCHUNK_SIZE; }
#include "kernels/subchunk_scan.h"

// ---- Compaction and merge --------------------------------------------------------
KVN_FN u32 scanListWord(u32 list, u32 index) {
    if (list == 0u) return huff_literals[index];
    if (list == 1u) return huff_tokens[index];
    if (list == 2u) return huff_off16_high[index];
    return huff_off16_low[index];
}
KVN_FN u32 compactWord(u32 list, u32 index) {
    if (list == 0u) return compact_literals[index];
    if (list == 1u) return compact_tokens[index];
    if (list == 2u) return compact_off16_high[index];
    return compact_off16_low[index];
}
KVN_FN void setCompactWord(u32 list, u32 index, u32 v) {
    if (list == 0u) compact_literals[index] = v;
    else if (list == 1u) compact_tokens[index] = v;
    else if (list == 2u) compact_off16_high[index] = v;
    else compact_off16_low[index] = v;
}

// The group's exclusive rank of a present flag among the group's 128 and
// the group's total (warp prefix sums joined through shared memory).
KVN_FN u32 groupRank(bool present, KVN_OUT(u32) total) {
    u32 flag = present ? 1u : 0u;
    u32 incl = kvnWarpInclusiveAdd(flag);
    if (kvnLane() == 31u) s_warp_sums[kvnWarpIndex()] = incl;
    kvnBarrier();
    u32 before = 0u;
    total = 0u;
    for (u32 w = 0u; w < 4u; ++w) {
        if (w < kvnWarpIndex()) before += s_warp_sums[w];
        total += s_warp_sums[w];
    }
    kvnBarrier();
    return before + incl - flag;
}

// Group b < 4 compacts Huffman list b, group 4 (when there is one) the
// stored off16 halves, A list first.
KVN_FN void compactLists(u32 total) {
    u32 b = kvnBlockIndex();
    if (b > 4u) return;
    u32 t = kvnThreadIndex();
    u32 base = 0u;
    if (b < 4u) {
        for (u32 at = 0u; at < total; at += kvn_block_threads) {
            u32 g = at + t;
            bool present = g < total && scanListWord(b, g * KVN_SCAN_HUFF_DESC_WORDS + KVN_SCAN_HUFF_W_PRESENT) != 0u;
            u32 added = 0u;
            u32 rank = groupRank(present, added);
            if (present) {
                u32 o = (base + rank) * KVN_HUFF_DEC_DESC_WORDS;
                u32 w = g * KVN_SCAN_HUFF_DESC_WORDS;
                setCompactWord(b, o + KVN_HUFF_DEC_W_SRC_OFF, scanListWord(b, w + KVN_SCAN_HUFF_W_SRC_OFF));
                setCompactWord(b, o + KVN_HUFF_DEC_W_COMP_SIZE, scanListWord(b, w + KVN_SCAN_HUFF_W_COMP_SIZE));
                setCompactWord(b, o + KVN_HUFF_DEC_W_DST_OFF, scanListWord(b, w + KVN_SCAN_HUFF_W_DST_OFF));
                setCompactWord(b, o + KVN_HUFF_DEC_W_DECOMP_SIZE, scanListWord(b, w + KVN_SCAN_HUFF_W_DECOMP_SIZE));
                setCompactWord(b, o + KVN_HUFF_DEC_W_LUT_OFF, 0u);
            }
            base += added;
        }
        if (t == 0u) list_counts[b] = base;
        return;
    }
    for (u32 half = 0u; half < 2u; ++half) {
        for (u32 at = 0u; at < total; at += kvn_block_threads) {
            u32 g = at + t;
            u32 w = g * KVN_SCAN_RAW_DESC_WORDS;
            bool present = g < total && (half == 0u ? raw_off16_high[w + KVN_SCAN_RAW_W_PRESENT]
                                                    : raw_off16_low[w + KVN_SCAN_RAW_W_PRESENT]) != 0u;
            u32 added = 0u;
            u32 rank = groupRank(present, added);
            if (present) {
                u32 o = (base + rank) * KVN_RAW_OFF16_DESC_WORDS;
                compact_raw_off16[o + KVN_RAW_OFF16_W_SRC_OFF] =
                    half == 0u ? raw_off16_high[w + KVN_SCAN_RAW_W_SRC_OFF] : raw_off16_low[w + KVN_SCAN_RAW_W_SRC_OFF];
                compact_raw_off16[o + KVN_RAW_OFF16_W_LEN] =
                    half == 0u ? raw_off16_high[w + KVN_SCAN_RAW_W_LEN] : raw_off16_low[w + KVN_SCAN_RAW_W_LEN];
                compact_raw_off16[o + KVN_RAW_OFF16_W_DST_OFF] =
                    half == 0u ? raw_off16_high[w + KVN_SCAN_RAW_W_DST_OFF] : raw_off16_low[w + KVN_SCAN_RAW_W_DST_OFF];
            }
            base += added;
        }
    }
    if (t == 0u) list_counts[kCountRaw] = base;
}

// Group b < 4 copies its compacted list after the lists before it.
KVN_FN void mergeLists() {
    u32 b = kvnBlockIndex();
    if (b >= 4u) return;
    u32 start = 0u;
    for (u32 k = 0u; k < b; ++k) start += list_counts[k];
    u32 n = list_counts[b];
    for (u32 i = kvnThreadIndex(); i < n * KVN_HUFF_DEC_DESC_WORDS; i += kvn_block_threads) {
        merged[start * KVN_HUFF_DEC_DESC_WORDS + i] = compactWord(b, i);
    }
    if (b == 0u && kvnThreadIndex() == 0u) {
        list_counts[kCountMerged] = list_counts[0] + list_counts[1] + list_counts[2] + list_counts[3];
    }
}

// ---- Huffman tables and streams ---------------------------------------------------
KVN_CONST u32 kTokenListCountWord = KVN_SCAN_LIST_TOKENS;
KVN_FN u32 descWord(u32 index, u32 word) { return merged[index * KVN_HUFF_DEC_DESC_WORDS + word]; }
KVN_FN u32 mergedList(u32 index) {
    u32 list = 0u;
    u32 end = list_counts[0];
    while (list < 3u && index >= end) {
        list += 1u;
        end += list_counts[list];
    }
    return list;
}
// Four tables per slot of the tile, one per list.
KVN_FN u32 lutOffset(u32 index) {
    u32 slot = descWord(index, KVN_HUFF_DEC_W_DST_OFF) / KVN_SUBCHUNK_SIZE - tile_first_subchunk;
    return (slot * 4u + mergedList(index)) * kTableWords;
}
#include "kernels/huffman_stream_bytes.h"
#include "kernels/huffman_lut_build.h"
#include "kernels/huffman_stream_decode.h"

// Points the warp's work arrays at its part of the dynamic shared memory.
KVN_FN void useWarpTables() {
    u32 at = kvnWarpIndex() * kTableWords;
    stream_table = s_mega_dyn() + at;
    code_lengths = s_mega_dyn() + at;
    canonical_symbols = s_mega_dyn() + at + 256u;
    length_count = s_mega_dyn() + at + 512u;
    length_first_code = s_mega_dyn() + at + 528u;
    length_start = s_mega_dyn() + at + 544u;
}

KVN_FN bool inTile(u32 index, u32 lo, u32 hi) {
    u32 dst = descWord(index, KVN_HUFF_DEC_W_DST_OFF);
    return dst >= lo && dst < hi;
}

// Warps 0 and 1 of every group take merged entries 2 x group + warp, ... in
// the tile's byte range [lo, hi): first `build` tables, then streams.
KVN_FN void huffmanPass(u32 lo, u32 hi, bool build) {
    if (kvnWarpIndex() >= 2u) return;
    useWarpTables();
    u32 n = list_counts[kCountMerged];
    for (u32 i = kvnBlockIndex() * 2u + kvnWarpIndex(); i < n; i += kvnGridBlocks() * 2u) {
        if (!inTile(i, lo, hi)) continue;
        if (build) buildLut(i);
        else decodeStream(i);
        kvnWarpSync();
    }
}

// ---- LZ ---------------------------------------------------------------------------
#include "kernels/lz_group_warp.h"
#include "kernels/lz_sequence.h"

KVN_FN u32 chunkCount() { return mega_meta[kMetaCount]; }
KVN_FN u32 outputLength() { return dst_capacity; }
KVN_FN u32 payloadLength() { return payload_end; }
KVN_FN u32 scratchSlot(u32 chunk) { return subchunk_starts[chunk] - tile_first_subchunk; }
KVN_FN bool scratchPresent(u32 where) { return huffman_road; }
KVN_FN u32 scratchAt(u32 slot) { return slot * KVN_SUBCHUNK_SIZE; }
KVN_FN u32 scratchBytes(u32 slot) { return KVN_SUBCHUNK_SIZE; }
KVN_FN u32 streamByte(u32 where, u32 at) {
    if (where == kStreamInPayload) return u32(payload[at]);
    u64 area = u64(where - kStreamInLiteralScratch) * u64(tile_slots) * u64(KVN_SUBCHUNK_SIZE);
    return u32(scratch[area + u64(at)]);
}
KVN_FN bool hasDictionary() { return dictionary.data != nullptr; }
KVN_FN u32 dictionaryLength() { return dictionary_len; }
KVN_FN u32 dictionaryByte(u32 i) { return u32(dictionary.data[i]); }
KVN_FN void chunkDone(u32 chunk) {}
#include "kernels/lz_chunk_walk.h"

// Warps take chunks [s, e) a warp-count apart.
KVN_FN void decodeChunks(u32 s, u32 e) {
    for (u32 c = s + globalWarp(); c < e; c += warpCount()) decodeWorkItem(c);
}

// ---- Phases -------------------------------------------------------------------------
KVN_FN void decodeTiles() {
    u32 count = mega_meta[kMetaCount];
    u32 tile_count = tiles[0];
    for (u32 t = 0u; t < tile_count; ++t) {
        u32 s = tiles[1u + t];
        u32 e = tiles[2u + t];
        tile_first_subchunk = chunkSubchunkStart(s, count);
        dst_base = tile_first_subchunk * KVN_SUBCHUNK_SIZE;
        u32 hi = chunkSubchunkStart(e, count) * KVN_SUBCHUNK_SIZE;
        huffmanPass(dst_base, hi, true);
        kvnGridSync();
        if (tile_count == 1u) stamp(kSlotBuild);
        huffmanPass(dst_base, hi, false);
        kvnGridSync();
        if (tile_count == 1u) {
            stamp(kSlotDecode);
            stamp(kSlotGather);
        }
        decodeChunks(s, e);
        kvnGridSync();
    }
}

KVN_FN void kvnMain() {
    stamp(kSlotStart);
    walkAllFrames();
    kvnGridSync();
    stamp(kSlotWalk);
    u32 count = mega_meta[kMetaCount];
    if (mega_meta[kMetaStatus] != kWalkOk || count == 0u) return;
    payload = src + mega_meta[kMetaPayloadBase];
    payload_end = mega_meta[kMetaPayloadLen];
    subchunk_size = KVN_SUBCHUNK_SIZE;
    chunks_per_item = 1u;
    lz_status.data = list_counts + kCountLzStatus;
    literal_area.data = scratch;
    token_area.data = scratch + u64(tile_slots) * u64(KVN_SUBCHUNK_SIZE);
    off16_area.data = scratch + u64(2u) * u64(tile_slots) * u64(KVN_SUBCHUNK_SIZE);
    tile_first_subchunk = 0u;
    dst_base = 0u;
    huffman_road = src_len >= 8u && u32(src[KVN_FRAME_OFF_LEVEL]) >= 3u;
    if (!huffman_road) {
        decodeChunks(0u, count);
        stamp(kSlotEnd);
        return;
    }
    u32 total = mega_meta[kMetaSubchunks];
    for (u32 i = globalThread(); i < count; i += kvnGridBlocks() * kvn_block_threads) scanChunk(i);
    kvnGridSync();
    stamp(kSlotScan);
    compactLists(total);
    kvnGridSync();
    stamp(kSlotCompact);
    mergeLists();
    kvnGridSync();
    stamp(kSlotMerge);
    decodeTiles();
    stamp(kSlotEnd);
}

#include "kernels/kernel_end.h"
