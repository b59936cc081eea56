// Huffman encode of the literal, token and off16 streams of the LZ output:
// kvnHuffScanStreamsKernel finds each sub-chunk's streams in its LZ output,
// kvnHuffBuildTablesKernel builds one canonical code of at most 11 bits per
// stream (one warp per stream), and kvnHuffEncode4StreamKernel writes each
// stream in 32 lanes (one warp per stream) in the form the Huffman decode
// kernels read.
//
// lavapipe ends an invocation's loops after 65,535 iterations in all. The
// largest stream (a 131,072-byte sub-chunk's literals) costs a lane about
// 4,100 histogram steps and 4,130 encode steps, far inside that; a stream
// whose loops are cut anyway is never written wrong: the table builder then
// leaves every length 0, and the encoder reports a coded size of 0 for any
// stream with a symbol of length 0, which the assembly writes raw.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// ============================================================================
#ifdef KVN_ENTRY_kvnHuffScanStreamsKernel

#define KVN_KERNEL kvnHuffScanStreamsKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
// The CUDA form takes the count before the records.
#if defined(KVN_TARGET_SPIRV)
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, lz_output)              \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u32, lz_sizes)              \
    BUFFER(3, KVN_RW, u32, scans)                 \
    SCALAR(u32, count)
#else
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, lz_output)              \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u32, lz_sizes)              \
    SCALAR(u32, count)                            \
    BUFFER(3, KVN_RW, u32, scans)
#endif
#include "kernels/kernel_begin.h"

KVN_FN u32 lzBe24(u32 at) {
    return (u32(lz_output[at]) << 16u) | (u32(lz_output[at + 1u]) << 8u) | u32(lz_output[at + 2u]);
}

KVN_FN void putScan(u32 i, u32 word, u32 v) { scans[i * KVN_LZ_SCAN_WORDS + word] = v; }

// The record of sub-chunk i: a stream that is absent or does not fit keeps
// offset and count 0, and the walk stops at the first stream that does not
// fit. Comparisons are on lengths left, so no sum can wrap.
KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * KVN_BLOCK_X + kvnThreadX();
    if (i >= count) return;
    for (u32 w = 0u; w < KVN_LZ_SCAN_WORDS; ++w) putScan(i, w, 0u);
    u32 rec = i * KVN_COMPRESS_DESC_WORDS;
    u32 out_at = descs[rec + KVN_COMPRESS_W_OUT_OFF];
    u32 len = descs[rec + KVN_COMPRESS_W_LEN];
    u32 prefix = descs[rec + KVN_COMPRESS_W_FIRST] != 0u ? KVN_FRAME_PREFIX_BYTES : 0u;
    u32 size = lz_sizes[i];
    if (size < prefix + 3u) return;
    u32 lits = lzBe24(out_at + prefix);
    u32 left = size - prefix - 3u;  // bytes after the literal count
    if (lits > 0u && lits <= left) {
        putScan(i, KVN_LZ_SCAN_W_LIT_OFF, out_at + prefix + 3u);
        putScan(i, KVN_LZ_SCAN_W_LIT_COUNT, lits);
    }
    if (size < prefix + 6u || lits > left || left - lits < 3u) return;
    u32 tok_at = out_at + prefix + 3u + lits;
    left -= lits + 3u;  // bytes after the token count
    u32 tokens = lzBe24(tok_at);
    if (tokens == 0u || tokens > left) return;
    putScan(i, KVN_LZ_SCAN_W_TOK_OFF, tok_at + 3u);
    putScan(i, KVN_LZ_SCAN_W_TOK_COUNT, tokens);
    left -= tokens;
    u32 at = tok_at + 3u + tokens;
    if (len > KVN_HALF_SIZE) {  // the first half's token count
        if (left < 2u) return;
        at += 2u;
        left -= 2u;
    }
    if (left < 2u) return;
    putScan(i, KVN_LZ_SCAN_W_OFF16_OFF, at + 2u);
    putScan(i, KVN_LZ_SCAN_W_OFF16_COUNT, u32(lz_output[at]) | (u32(lz_output[at + 1u]) << 8u));
}

#include "kernels/kernel_end.h"
#endif

// ============================================================================
#ifdef KVN_ENTRY_kvnHuffBuildTablesKernel

KVN_SHARED(u32, hist, 256)
KVN_SHARED(u32, weights, 512)
// Parent node of every node, kNoParent for the root and unused nodes.
KVN_SHARED(u32, parents, 512)
KVN_SHARED(u32, active_list, 512)
KVN_SHARED(u32, used_symbols, 256)
KVN_SHARED(u32, node_depth, 512)
KVN_SHARED(u32, code_lengths, 256)
KVN_SHARED(u32, codes, 256)
KVN_SHARED(u32, length_next_code, 16)
KVN_SHARED(u32, n_active_sh, 1)
KVN_SHARED(u32, next_node_sh, 1)

#define KVN_KERNEL kvnHuffBuildTablesKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, lz_output)              \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RW, u8, table_lengths)          \
    BUFFER(3, KVN_RW, u32, table_codes)           \
    SCALAR(u32, table_stride)                     \
    SCALAR(u32, desc_count)
#include "kernels/kernel_begin.h"

KVN_CONST u32 kNoParent = 0xFFFFFFFFu;
KVN_CONST u32 kNone = 0xFFFFFFFFu;
KVN_CONST u32 kKraftOne = 1u << 30u;

// The smallest key (weight << 9 | list position) over the active list,
// skipping position `skip`. Weights are sums of counts below 2^22, so keys
// fit 31 bits and order as (weight, position).
KVN_FN u32 smallestActive(u32 n_active, u32 skip) {
    u32 best = kNone;
    for (u32 k = 0u; k < 8u; ++k) {
        u32 p = kvnLane() + 32u * k;
        if (p < n_active && p != skip) best = kvnMin(best, (weights[active_list[p]] << 9u) | p);
    }
    return kvnWarpReduceMin(best);
}

// The used symbol below the length limit with the smallest (count, symbol).
KVN_FN u32 rarestShortSymbol() {
    u32 best = kNone;
    for (u32 k = 0u; k < 8u; ++k) {
        u32 s = kvnLane() + 32u * k;
        u32 len = code_lengths[s];
        if (len > 0u && len < KVN_HUFF_MAX_CODE_LEN) best = kvnMin(best, (hist[s] << 8u) | s);
    }
    u32 key = kvnWarpReduceMin(best);
    return key == kNone ? kNone : key & 255u;
}

KVN_FN void kvnMain() {
    u32 d = kvnBlockIndex();
    if (d >= desc_count) return;
    u32 lane = kvnLane();
    u32 src = descs[d * KVN_HUFF_ENC_DESC_WORDS + KVN_HUFF_ENC_W_SRC_OFF];
    u32 n = descs[d * KVN_HUFF_ENC_DESC_WORDS + KVN_HUFF_ENC_W_COUNT];
    u32 stride = descs[d * KVN_HUFF_ENC_DESC_WORDS + KVN_HUFF_ENC_W_STRIDE];
    // Larger counts would overflow the tree's keys: such a stream gets no code.
    bool failed = n >= KVN_HUFF_ENC_MAX_SYMBOLS;

    // 1. Histogram.
    for (u32 k = 0u; k < 8u; ++k) hist[lane + 32u * k] = 0u;
    kvnWarpSync();
    u32 i = lane;
    while (!failed && i < n) {
        kvnAtomicAdd(hist[u32(lz_output[src + i * stride])], 1u);
        i += 32u;
    }
    failed = kvnAny(!failed && i < n) || failed;
    kvnWarpSync();

    // 2. Nodes, lengths and codes start empty; the used symbols in
    // increasing order.
    for (u32 k = 0u; k < 16u; ++k) {
        weights[lane + 32u * k] = k < 8u ? hist[lane + 32u * k] : 0u;
        parents[lane + 32u * k] = kNoParent;
        node_depth[lane + 32u * k] = 0u;
    }
    u32 used = 0u;
    for (u32 k = 0u; k < 8u; ++k) {
        u32 s = lane + 32u * k;
        code_lengths[s] = 0u;
        codes[s] = 0u;
        u32 mask = kvnBallot(hist[s] > 0u);
        if (hist[s] > 0u) used_symbols[used + kvnPopcount(mask & kvnLanesBelow())] = s;
        used += kvnPopcount(mask);
    }
    kvnWarpSync();

    // 3. The tree: join the two smallest (weight, list position) keys until
    // one node is left. The joined node takes the smaller position and the
    // list's last entry fills the larger one.
    if (lane == 0u) {
        n_active_sh[0] = failed ? 0u : used;
        next_node_sh[0] = 256u;
    }
    for (u32 k = 0u; k < 8u; ++k) active_list[lane + 32u * k] = used_symbols[lane + 32u * k];
    kvnWarpSync();
    u32 n_active = n_active_sh[0];
    while (n_active > 1u) {
        u32 first = smallestActive(n_active, kNone);
        u32 second = smallestActive(n_active, first & 511u);
        if (lane == 0u) {
            u32 pa = first & 511u;
            u32 pb = second & 511u;
            u32 node = next_node_sh[0];
            u32 a = active_list[pa];
            u32 b = active_list[pb];
            weights[node] = weights[a] + weights[b];
            parents[a] = node;
            parents[b] = node;
            active_list[kvnMin(pa, pb)] = node;
            active_list[kvnMax(pa, pb)] = active_list[n_active - 1u];
            n_active_sh[0] = n_active - 1u;
            next_node_sh[0] = node + 1u;
        }
        kvnWarpSync();
        n_active = n_active_sh[0];
    }
    failed = failed || n_active > 1u;

    // 4. Depths: a parent is always numbered above its children, so one
    // pass down from the root numbers every internal node, then the leaves.
    u32 next_node = next_node_sh[0];
    if (lane == 0u && !failed && used > 1u) {
        u32 node = next_node - 1u;
        while (node > 256u) {
            node -= 1u;
            node_depth[node] = node_depth[parents[node]] + 1u;
        }
        if (node > 256u) failed = true;
    }
    failed = kvnAny(failed);
    kvnWarpSync();
    u32 kraft = 0u;
    for (u32 k = 0u; k < 8u; ++k) {
        u32 s = lane + 32u * k;
        if (!failed && hist[s] > 0u) {
            u32 len = used == 1u ? 1u : kvnMin(node_depth[parents[s]] + 1u, KVN_HUFF_MAX_CODE_LEN);
            code_lengths[s] = len;
            kraft += 1u << (30u - len);
        }
    }
    kraft = kvnWarpReduceAdd(kraft);
    kvnWarpSync();

    // 5. Capped lengths can over-fill the code space: lengthen the rarest
    // short symbol until it fits. Each step frees at least 2^19 of an excess
    // below 256 x 2^19, so this loop runs fewer than 256 times.
    bool fits = kraft <= kKraftOne;
    while (!fits) {
        u32 s = rarestShortSymbol();
        if (s == kNone) break;
        u32 len = code_lengths[s];
        kvnWarpSync();
        if (lane == 0u) code_lengths[s] = len + 1u;
        kraft -= 1u << (29u - len);
        fits = kraft <= kKraftOne;
        kvnWarpSync();
    }
    failed = failed || kraft > kKraftOne;

    // 6. Canonical codes: by length, then by symbol.
    if (lane == 0u && !failed) {
        for (u32 len = 0u; len < 16u; ++len) length_next_code[len] = 0u;
        for (u32 s = 0u; s < 256u; ++s) length_next_code[code_lengths[s]] += 1u;
        u32 code = 0u;
        u32 prev = 0u;
        for (u32 len = 1u; len <= KVN_HUFF_MAX_CODE_LEN; ++len) {
            code = (code + prev) << 1u;
            prev = length_next_code[len];
            length_next_code[len] = code;
        }
        for (u32 s = 0u; s < 256u; ++s) {
            u32 len = code_lengths[s];
            if (len > 0u) {
                codes[s] = length_next_code[len];
                length_next_code[len] += 1u;
            }
        }
    }
    kvnWarpSync();

    // 7. The tables; a failed stream gets every length 0, which the encoder
    // turns into a coded size of 0.
    for (u32 k = 0u; k < 8u; ++k) {
        u32 s = lane + 32u * k;
        u32 at = d * table_stride + s;
        table_lengths[at] = u8(failed ? 0u : code_lengths[s]);
        table_codes[at] = failed ? 0u : codes[s];
    }
}

#include "kernels/kernel_end.h"
#endif

// ============================================================================
#ifdef KVN_ENTRY_kvnHuffEncode4StreamKernel

KVN_SHARED(u32, lane_deltas, 32)

#define KVN_KERNEL kvnHuffEncode4StreamKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, lz_output)              \
    BUFFER(1, KVN_RO, u32, descs)                 \
    BUFFER(2, KVN_RO, u8, table_lengths)          \
    BUFFER(3, KVN_RO, u32, table_codes)           \
    BUFFER(4, KVN_RW, u32, lane_scratch)          \
    BUFFER(5, KVN_RW, u32, coded)                 \
    BUFFER(6, KVN_RW, u32, coded_sizes)           \
    SCALAR(u32, lane_width)                       \
    SCALAR(u32, table_stride)                     \
    SCALAR(u32, desc_count)
#include "kernels/kernel_begin.h"

// Lane words are kept in memory order: the first byte of the bit string is
// the word's lowest byte (the decoder reads the words big-endian).
KVN_FN u32 memoryWord(u32 big_endian) { return kvnByteSwap(big_endian); }

// Word k of the 32 packed w-bit deltas (lane j's delta at bit j x w).
KVN_FN u32 deltaWord(u32 k, u32 w) {
    u32 word = 0u;
    u32 lo = 32u * k;
    for (u32 j = 0u; j < 32u; ++j) {
        u32 at = j * w;
        if (at < lo + 32u && at + w > lo) {
            u32 v = lane_deltas[j];
            word |= at >= lo ? kvnShiftLeft(v, at - lo) : kvnShiftRight(v, lo - at);
        }
    }
    return word;
}

KVN_FN void kvnMain() {
    u32 d = kvnBlockIndex();
    if (d >= desc_count) return;
    u32 lane = kvnLane();
    u32 rec = d * KVN_HUFF_ENC_DESC_WORDS;
    u32 src = descs[rec + KVN_HUFF_ENC_W_SRC_OFF];
    u32 n = descs[rec + KVN_HUFF_ENC_W_COUNT];
    u32 stride = descs[rec + KVN_HUFF_ENC_W_STRIDE];
    u32 out_at = descs[rec + KVN_HUFF_ENC_W_OUT_OFF] / 4u;
    u32 capacity = descs[rec + KVN_HUFF_ENC_W_OUT_CAP];
    if (n == 0u) {
        if (lane == 0u) coded_sizes[d] = 0u;
        return;
    }

    // This lane's slice, MSB-first into whole words of its scratch area.
    u32 per_lane = n / KVN_HUFF_LANES;
    u32 first = lane * per_lane;
    u32 lane_n = lane < KVN_HUFF_LANES - 1u ? per_lane : n - (KVN_HUFF_LANES - 1u) * per_lane;
    u32 room = lane_width / 4u;
    u32 scratch = (d * KVN_HUFF_LANES + lane) * room;
    u32 table = d * table_stride;
    u64 acc = u64(0u);
    u32 held = 0u;
    u32 words = 0u;
    bool bad = n >= KVN_HUFF_ENC_MAX_SYMBOLS || lane_width % 16u != 0u || descs[rec + KVN_HUFF_ENC_W_OUT_OFF] % 4u != 0u;
    u32 i = 0u;
    while (!bad && i < lane_n) {
        u32 s = u32(lz_output[src + (first + i) * stride]);
        u32 len = u32(table_lengths[table + s]);
        acc = (acc << len) | u64(table_codes[table + s]);
        held += len;
        if (held >= 32u) {
            held -= 32u;
            bad = words >= room;
            if (!bad) lane_scratch[scratch + words] = memoryWord(u32(acc >> held));
            words += 1u;
        }
        // An unused symbol (a table the builder could not make) is never coded.
        if (len == 0u) bad = true;
        i += 1u;
    }
    if (i < lane_n) bad = true;  // cut short
    u32 bytes = 4u * words + (held + 7u) / 8u;
    if (held > 0u) {
        if (words >= room) bad = true;
        else lane_scratch[scratch + words] = memoryWord(u32(acc << (32u - held)));
        words += 1u;
    }

    // The header fields and the total size, before anything is written: a
    // stream that would not fit its capacity is not written at all.
    u32 min_bytes = kvnWarpReduceMin(bytes);
    u32 spread = kvnWarpReduceMax(bytes) - min_bytes;
    u32 w = 32u - kvnClz(spread);
    u32 rows = kvnWarpReduceMin(words);
    u32 extra = words - rows;
    u32 extra_before = kvnWarpExclusiveAdd(extra);
    u32 extra_total = kvnWarpReduceAdd(extra);
    u32 total = KVN_HUFF_FIXED_BYTES + 4u * w + KVN_HUFF_ROW_BYTES * rows + 4u * extra_total;
    bad = kvnAny(bad) || total > capacity || min_bytes > 0xFFFFFFu;
    if (bad) {
        if (lane == 0u) coded_sizes[d] = 0u;
        return;
    }

    // Code lengths as nibbles: lane k writes bytes 4k .. 4k + 3.
    u32 nibbles = 0u;
    for (u32 b = 0u; b < 4u; ++b) {
        u32 j = 4u * lane + b;
        u32 pair = u32(table_lengths[table + 2u * j]) | (u32(table_lengths[table + 2u * j + 1u]) << 4u);
        nibbles |= pair << (8u * b);
    }
    coded[out_at + lane] = nibbles;
    if (lane == 0u) coded[out_at + KVN_HUFF_MIN_LANE_OFF / 4u] = min_bytes | (w << 24u);

    // The deltas, then M, the rows and the tails.
    lane_deltas[lane] = bytes - min_bytes;
    kvnWarpSync();
    u32 deltas_at = out_at + KVN_HUFF_DELTAS_OFF / 4u;
    if (lane < w) coded[deltas_at + lane] = deltaWord(lane, w);
    u32 body = deltas_at + w + 1u;
    if (lane == 0u) coded[body - 1u] = rows;
    u32 t = 0u;
    while (t < rows) {
        coded[body + t * KVN_HUFF_LANES + lane] = lane_scratch[scratch + t];
        t += 1u;
    }
    bool cut = t < rows;
    u32 tail = body + rows * KVN_HUFF_LANES + extra_before;
    u32 e = 0u;
    while (e < extra) {
        coded[tail + e] = lane_scratch[scratch + rows + e];
        e += 1u;
    }
    cut = kvnAny(cut || e < extra);
    if (lane == 0u) coded_sizes[d] = cut ? 0u : total;
}

#include "kernels/kernel_end.h"
#endif
