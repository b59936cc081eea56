// Huffman decode of the entropy-coded literal, token and off16 streams: one
// warp per stream builds the stream's 1024-entry lookup table from its code
// lengths, then one warp per stream decodes its 32 interleaved lanes, one lane
// each, into the decoded-stream scratch.
//
// The Vulkan forms always start at descriptor 0 and write at each stream's
// destination offset; the CUDA forms add a first descriptor index and a
// destination base so that a window of the list can be decoded on its own.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// ============================================================================
#ifdef KVN_ENTRY_kvnHuffBuildLutKernel

KVN_SHARED(u32, code_lengths, 256)
// Symbols of lengths 1 to 11 in canonical order (length, then symbol value).
KVN_SHARED(u32, canonical_symbols, 256)
// Per code length 1 to 12: symbols of that length, first canonical code, and
// position of the first such symbol in canonical_symbols.
KVN_SHARED(u32, length_count, 13)
KVN_SHARED(u32, length_first_code, 13)
KVN_SHARED(u32, length_start, 13)

#define KVN_KERNEL kvnHuffBuildLutKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#if defined(KVN_TARGET_SPIRV)
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u32, luts)                  \
    BUFFER(3, KVN_RO, u32, desc_count)            \
    SCALAR(u32, first_desc)
#else
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u32, luts)                  \
    BUFFER(3, KVN_RO, u32, desc_count)            \
    SCALAR(u32, first_desc)
#endif
#include "kernels/kernel_begin.h"
#include "kernels/huffman_stream_bytes.h"

// The Vulkan form decodes the list in windows of descriptors whose tables
// fill the table array from its start (so the array stays a few MiB whatever
// the list's length); the CUDA form keeps every table at its own offset.
#if defined(KVN_TARGET_SPIRV)
KVN_FN u32 lutBase() { return first_desc * KVN_HUFF_LUT_ENTRIES; }
#else
KVN_FN u32 lutBase() { return 0u; }
#endif

// Lane counts of lengths 1 to 12 travel packed three to a word, 10 bits each
// (a count never exceeds 256).
KVN_FN u32 packedCountUnit(u32 len) { return 1u << (10u * ((len - 1u) % 3u)); }
KVN_FN u32 packedCount(u32 p0, u32 p1, u32 p2, u32 p3, u32 len) {
    u32 group = (len - 1u) / 3u;
    u32 word = group == 0u ? p0 : (group == 1u ? p1 : (group == 2u ? p2 : p3));
    return (word >> (10u * ((len - 1u) % 3u))) & 1023u;
}

// The symbol whose code of `len` bits is `code`, or 256 when none is.
// Canonical codes of one length are consecutive, so this is a range test;
// a code counted past 2^len never matches since `code` has only len bits.
KVN_FN u32 symbolOfCode(u32 code, u32 len) {
    u32 k = code - length_first_code[len];
    return k < length_count[len] ? canonical_symbols[length_start[len] + k] : 256u;
}

// Table entry for the 10-bit window `window`: the code it starts with (and a
// second one when both fit), or the two 11-bit codes that extend it. Codes
// are prefix-free, so at most one code of length 1 to 10 starts the window.
KVN_FN u32 tableEntry(u32 window) {
    for (u32 la = 1u; la <= KVN_HUFF_LUT_BITS; ++la) {
        u32 a = symbolOfCode(window >> (KVN_HUFF_LUT_BITS - la), la);
        if (a < 256u) {
            u32 rest = KVN_HUFF_LUT_BITS - la;
            u32 rest_bits = window & ((1u << rest) - 1u);
            for (u32 lb = 1u; lb <= rest; ++lb) {
                u32 b = symbolOfCode(rest_bits >> (rest - lb), lb);
                if (b < 256u) return a | (b << 8u) | ((la + lb) << 16u) | (KVN_HUFF_LUT_TWO << 24u);
            }
            return a | (la << 16u) | (KVN_HUFF_LUT_ONE << 24u);
        }
    }
    u32 even = symbolOfCode(window * 2u, KVN_HUFF_MAX_CODE_LEN);
    u32 odd = symbolOfCode(window * 2u + 1u, KVN_HUFF_MAX_CODE_LEN);
    if (even == 256u && odd == 256u) return 0u;
    return (even & 255u) | ((odd & 255u) << 8u) | (KVN_HUFF_MAX_CODE_LEN << 16u) | (KVN_HUFF_LUT_LONG << 24u);
}

KVN_FN void kvnMain() {
    u32 index = kvnBlockIndex() + first_desc;
    if (index >= desc_count[0]) return;
    u32 src = descWord(index, KVN_HUFF_DEC_W_SRC_OFF);
    u32 size = descWord(index, KVN_HUFF_DEC_W_COMP_SIZE);
    u32 lut = descWord(index, KVN_HUFF_DEC_W_LUT_OFF) - lutBase();
    u32 lane = kvnLane();

    // Lane l unpacks symbols 8l to 8l + 7 and counts their lengths.
    u32 p0 = 0u;
    u32 p1 = 0u;
    u32 p2 = 0u;
    u32 p3 = 0u;
    for (u32 k = 0u; k < 8u; ++k) {
        u32 byte = streamByte(src, size, u64(4u * lane + k / 2u));
        u32 len = (k & 1u) != 0u ? byte >> 4u : byte & 15u;
        code_lengths[8u * lane + k] = len;
        if (len >= 1u && len <= 12u) {
            u32 unit = packedCountUnit(len);
            u32 group = (len - 1u) / 3u;
            if (group == 0u) p0 += unit;
            else if (group == 1u) p1 += unit;
            else if (group == 2u) p2 += unit;
            else p3 += unit;
        }
    }
    u32 i0 = kvnWarpInclusiveAdd(p0);
    u32 i1 = kvnWarpInclusiveAdd(p1);
    u32 i2 = kvnWarpInclusiveAdd(p2);
    u32 i3 = kvnWarpInclusiveAdd(p3);
    u32 t0 = kvnBroadcast(i0, 31u);
    u32 t1 = kvnBroadcast(i1, 31u);
    u32 t2 = kvnBroadcast(i2, 31u);
    u32 t3 = kvnBroadcast(i3, 31u);

    // Length 12 takes part in the numbering but gets no entry; 13 to 15 do not count.
    if (lane == 0u) {
        u32 code = 0u;
        u32 start = 0u;
        for (u32 len = 1u; len <= 12u; ++len) {
            u32 c = packedCount(t0, t1, t2, t3, len);
            length_count[len] = c;
            length_first_code[len] = code;
            length_start[len] = start;
            code = (code + c) << 1u;
            start += c;
        }
    }
    kvnWarpSync();

    // Rank of each symbol among those of its length: earlier lanes, then
    // earlier symbols of this lane.
    for (u32 k = 0u; k < 8u; ++k) {
        u32 len = code_lengths[8u * lane + k];
        if (len >= 1u && len <= KVN_HUFF_MAX_CODE_LEN) {
            u32 rank = packedCount(i0 - p0, i1 - p1, i2 - p2, i3 - p3, len);
            for (u32 j = 0u; j < k; ++j) {
                if (code_lengths[8u * lane + j] == len) rank += 1u;
            }
            canonical_symbols[length_start[len] + rank] = 8u * lane + k;
        }
    }
    kvnWarpSync();

    // Fixed bounds only: 32 windows a lane, each at most 10 x 11 probes,
    // far inside lavapipe's 65,535 loop iterations per invocation.
    for (u32 i = 0u; i < KVN_HUFF_LUT_ENTRIES / 32u; ++i) {
        u32 window = i * 32u + lane;
        luts[lut + window] = tableEntry(window);
    }
}

#include "kernels/kernel_end.h"
#endif

// ============================================================================
#ifdef KVN_ENTRY_kvnHuffDecode4StreamKernel

KVN_SHARED(u32, stream_table, 1024)

#define KVN_KERNEL kvnHuffDecode4StreamKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#if defined(KVN_TARGET_SPIRV)
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u32, luts)                  \
    BUFFER(3, KVN_RO, u32, desc_count)            \
    BUFFER(4, KVN_RO, u32, list_counts)           \
    ADDRESS(KVN_RW, u8, literal_area)             \
    ADDRESS(KVN_RW, u8, token_area)               \
    ADDRESS(KVN_RW, u8, off16_area)               \
    SCALAR(u32, first_desc)
#else
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, payload)                \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u32, luts)                  \
    BUFFER(3, KVN_RO, u32, desc_count)            \
    BUFFER(4, KVN_RO, u32, list_counts)           \
    ADDRESS(KVN_RW, u8, literal_area)             \
    ADDRESS(KVN_RW, u8, token_area)               \
    ADDRESS(KVN_RW, u8, off16_area)               \
    SCALAR(u32, dst_base)                         \
    SCALAR(u32, first_desc)
#endif
#include "kernels/kernel_begin.h"
#include "kernels/huffman_stream_bytes.h"

// The Vulkan form has no destination base (0), reads the tables of a window
// from the table array's start (as kvnHuffBuildLutKernel writes them) and
// keeps each list count in a 256-byte cell of its own; the CUDA form's counts
// are consecutive words and its tables lie at their own offsets.
#if defined(KVN_TARGET_SPIRV)
KVN_CONST u32 dst_base = 0u;
KVN_CONST u32 kTokenListCountWord = KVN_SCAN_LIST_TOKENS * (KVN_DESC_COUNTER_CELL_BYTES / 4u);
KVN_FN u32 lutBase() { return first_desc * KVN_HUFF_LUT_ENTRIES; }
#else
KVN_CONST u32 kTokenListCountWord = KVN_SCAN_LIST_TOKENS;
KVN_FN u32 lutBase() { return 0u; }
#endif

KVN_CONST u32 kAreaLiterals = 0u;
KVN_CONST u32 kAreaTokens = 1u;
KVN_CONST u32 kAreaOff16 = 2u;

KVN_FN void storeSymbol(u32 area, u32 at, u32 symbol) {
    if (area == kAreaLiterals) literal_area.data[at] = u8(symbol & 255u);
    else if (area == kAreaTokens) token_area.data[at] = u8(symbol & 255u);
    else off16_area.data[at] = u8(symbol & 255u);
}

// Word w of this lane's bit string as a big-endian value: the first `rows`
// words interleaved with the other lanes, the rest from the lane's tail;
// words past the lane's length (and bytes past the stream) read as zero.
KVN_FN u64 laneWord(u32 src, u32 size, u32 body, u32 rows, u64 tail, u32 words, u32 w) {
    if (w >= words) return u64(0u);
    u64 off = w < rows ? u64(body) + u64(KVN_HUFF_ROW_BYTES) * u64(w) + u64(4u * kvnLane())
                       : tail + u64(4u) * u64(w - rows);
    if (off + u64(4u) <= u64(size)) {
        u32 at = src + u32(off);
        return u64((u32(payload[at]) << 24u) | (u32(payload[at + 1u]) << 16u) | (u32(payload[at + 2u]) << 8u) |
                   u32(payload[at + 3u]));
    }
    return u64((streamByte(src, size, off) << 24u) | (streamByte(src, size, off + 1u) << 16u) |
               (streamByte(src, size, off + 2u) << 8u) | streamByte(src, size, off + 3u));
}

// One table lookup at the top of the bit buffer: stores one symbol, or two
// when both fit the lane's count, and consumes their bits. False when no code
// starts there, which ends the lane and leaves the rest of it as it was.
KVN_FN bool decodeStep(u32 area, u32 lane_dst, u32 lane_count, KVN_INOUT(u64) bits, KVN_INOUT(u32) held,
                       KVN_INOUT(u32) done) {
    u32 entry = stream_table[u32(bits >> (64u - KVN_HUFF_LUT_BITS))];
    u32 used = (entry >> 16u) & 255u;
    if (used == 0u) return false;
    u32 kind = entry >> 24u;
    if (kind == KVN_HUFF_LUT_LONG) {
        u32 odd = u32(bits >> (63u - KVN_HUFF_LUT_BITS)) & 1u;
        storeSymbol(area, lane_dst + done, odd != 0u ? entry >> 8u : entry);
        done += 1u;
    } else {
        storeSymbol(area, lane_dst + done, entry);
        done += 1u;
        if (kind == KVN_HUFF_LUT_TWO && done < lane_count) {
            storeSymbol(area, lane_dst + done, entry >> 8u);
            done += 1u;
        }
    }
    bits = bits << used;
    held -= used;
    return true;
}

KVN_FN void kvnMain() {
    u32 index = kvnBlockIndex() + first_desc;
    if (index >= desc_count[0]) return;
    u32 src = descWord(index, KVN_HUFF_DEC_W_SRC_OFF);
    u32 size = descWord(index, KVN_HUFF_DEC_W_COMP_SIZE);
    u32 dst = descWord(index, KVN_HUFF_DEC_W_DST_OFF);
    u32 count = descWord(index, KVN_HUFF_DEC_W_DECOMP_SIZE);
    u32 lut = descWord(index, KVN_HUFF_DEC_W_LUT_OFF) - lutBase();

    // The list a descriptor came from picks its area and the most symbols its
    // scratch slot holds (a split off16 half gets half a slot).
    u32 literal_lists = list_counts[0];
    u32 token_lists = list_counts[kTokenListCountWord];
    u32 area = index < literal_lists ? kAreaLiterals : (index - literal_lists < token_lists ? kAreaTokens : kAreaOff16);
    count = kvnMin(count, area == kAreaOff16 ? KVN_OFF16_MAX_ENTRIES : KVN_STREAM_MAX_SYMBOLS);
    if (count == 0u || dst < dst_base) return;

    u32 lane = kvnLane();
    for (u32 i = 0u; i < KVN_HUFF_LUT_ENTRIES / 32u; ++i) stream_table[i * 32u + lane] = luts[lut + i * 32u + lane];
    kvnWarpSync();

    // Lane lengths: B plus this lane's W-bit delta, capped at the stream size.
    u32 min_bytes = streamByte(src, size, u64(KVN_HUFF_MIN_LANE_OFF)) |
                    (streamByte(src, size, u64(KVN_HUFF_MIN_LANE_OFF + 1u)) << 8u) |
                    (streamByte(src, size, u64(KVN_HUFF_MIN_LANE_OFF + 2u)) << 16u);
    u32 width = streamByte(src, size, u64(KVN_HUFF_DELTA_WIDTH_OFF));
    u64 delta = u64(0u);
    for (u32 b = 0u; b < kvnMin(width, 64u); ++b) {
        u32 bit = lane * width + b;
        u64 set = u64((streamByte(src, size, u64(KVN_HUFF_DELTAS_OFF + bit / 8u)) >> (bit % 8u)) & 1u);
        delta |= set << b;
    }
    u64 len = u64(min_bytes) + delta;
    if (len > u64(size)) len = u64(size);
    u32 words = u32((len + u64(3u)) / u64(4u));

    // Rows: as many as the header says and the stream holds.
    u32 rows_off = KVN_HUFF_DELTAS_OFF + 4u * width;
    u32 rows = streamByte(src, size, u64(rows_off)) | (streamByte(src, size, u64(rows_off + 1u)) << 8u) |
               (streamByte(src, size, u64(rows_off + 2u)) << 16u) | (streamByte(src, size, u64(rows_off + 3u)) << 24u);
    u32 body = rows_off + 4u;
    rows = size >= body ? kvnMin(rows, (size - body) / KVN_HUFF_ROW_BYTES) : 0u;

    // Tails follow the rows, lane after lane. A tail longer than the whole
    // stream only reads zeros, so each is capped at the stream size and the
    // prefix sum runs on 16-bit halves, which cannot overflow.
    u64 tail_len = words > rows ? u64(4u) * u64(words - rows) : u64(0u);
    u32 tail_bytes = tail_len < u64(size) ? u32(tail_len) : size;
    u32 before_high = kvnWarpExclusiveAdd(tail_bytes >> 16u);
    u32 before_low = kvnWarpExclusiveAdd(tail_bytes & 0xFFFFu);
    u64 tail = u64(body) + u64(KVN_HUFF_ROW_BYTES) * u64(rows) + (u64(before_high) << 16u) + u64(before_low);

    u32 per_lane = count / KVN_HUFF_LANES;
    u32 lane_count = lane < KVN_HUFF_LANES - 1u ? per_lane : count - (KVN_HUFF_LANES - 1u) * per_lane;
    u32 lane_dst = dst - dst_base + lane * per_lane;

    // A 64-bit buffer holds the next bits at its top, refilled a word at a
    // time; after a refill it holds at least 32 bits, enough for two codes.
    u64 bits = u64(0u);
    u32 held = 0u;
    u32 next_word = 0u;
    u32 done = 0u;
    bool valid = true;
    // Bounded by the symbol cap: a lane decodes at most 131072 / 32 + 31
    // symbols, at least one per pass, so lavapipe's loop budget (65,535
    // iterations per invocation) cannot cut this loop short.
    while (valid && done < lane_count) {
        if (held <= 32u) {
            bits |= laneWord(src, size, body, rows, tail, words, next_word) << (32u - held);
            next_word += 1u;
            held += 32u;
        }
        valid = decodeStep(area, lane_dst, lane_count, bits, held, done);
        if (valid && done < lane_count) valid = decodeStep(area, lane_dst, lane_count, bits, held, done);
    }
}

#include "kernels/kernel_end.h"
#endif
