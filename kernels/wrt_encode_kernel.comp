// The word transform of a frame on the GPU: count the words in a device hash
// table, compact the words worth a code into a candidate table (the host
// chooses the dictionary from it), mark the chosen words' slots with their
// code numbers, transform each 4096-byte segment into its own area, and pack
// the areas. Every loop is bounded well below lavapipe's per-invocation
// budget; what would need more is reported, never cut short.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

// Release and acquire fences around the publication of a record. lavapipe
// silently ends the invocations that reach a memory barrier on diverged
// paths, so the SPIR-V build has none: there every access to a record is an
// atomic of lavapipe's, which are sequentially consistent, and a reader still
// waits for the length that marks a record written.
#if defined(KVN_TARGET_SPIRV)
#define wrtBufferFence()
#else
#define wrtBufferFence() kvnMemoryFence()
#endif

// Counters buffer, u32 words.
#define KVN_WRT_DROPPED 0u     // words not counted: the record area or a probe ran out
#define KVN_WRT_RESERVED 1u    // records reserved
#define KVN_WRT_WALKED 2u      // text positions the count kernel walked
#define KVN_WRT_SLOTS_WALKED 3u  // slots the compact kernel walked
#define KVN_WRT_ASSIGNED 4u    // code words the assign kernel found
#define KVN_WRT_GATHERED 5u    // bytes the gather kernel copied
#define KVN_WRT_CANDIDATES 64u // candidates found (may exceed the cap)
#define KVN_WRT_OVERFLOWS 128u // segments that did not fit their area
#define KVN_WRT_MIN_COUNT 5u

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnWrtCountKernel)
#define KVN_KERNEL kvnWrtCountKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, text)                   \
    BUFFER(1, KVN_RW, u32, slots)                 \
    BUFFER(2, KVN_RW, u32, record_lengths)        \
    BUFFER(3, KVN_RW, u32, record_words)          \
    BUFFER(4, KVN_RW, u32, record_counts)         \
    BUFFER(5, KVN_RW, u32, counters)              \
    SCALAR(u32, n)                                \
    SCALAR(u32, table_bits)
#include "kernels/kernel_begin.h"
#include "kernels/wrt_word_table.h"

// Records are published through their slot: the word first, then its
// length (0, as the host cleared it, means not yet written), then the slot
// by compare-and-swap, each step behind a release fence. A reader that finds
// a slot taken reads the length behind an acquire fence and waits while it is
// still 0, so it never compares a word half written. Every access to a record
// is atomic: the fences order them.
#define KVN_WRT_WAIT_LIMIT 4096u

// 1 when record r holds the word, 0 when it holds another, 2 when it is not
// written yet after the wait. (Loops here end by break, not return: a return
// from inside a loop ends the whole invocation on lavapipe.)
KVN_FN u32 publishedRecordHolds(u32 r, u32 at, u32 len) {
    u32 seen = 0u;
    for (u32 wait = 0u; wait < KVN_WRT_WAIT_LIMIT; ++wait) {
        seen = kvnAtomicOr(record_lengths[r], 0u);
        if (seen != 0u) break;
        kvnSpinPause();
    }
    u32 holds = seen == 0u ? 2u : 0u;
    if (seen != 0u) {
        wrtBufferFence();  // acquire: the word was written before its length
        bool same = seen == len;
        for (u32 j = 0u; j < 8u; ++j) {
            if (!same) break;
            same = kvnAtomicOr(record_words[r * 8u + j], 0u) == wrtTextWord(at, len, j);
        }
        holds = same ? 1u : 0u;
    }
    return holds;
}

// Counts the word at text[at]; false when it could not be counted.
KVN_FN bool countWord(u32 at, u32 len, u32 mask, u32 record_cap) {
    u32 s = wrtTextHash(at, len) & mask;
    u32 mine = KVN_WRT_NO_SLOT;  // the record this thread reserved
    u32 outcome = 0u;            // 1 counted, 2 failed
    for (u32 probe = 0u; probe < KVN_WRT_PROBE_LIMIT; ++probe) {
        u32 v = kvnAtomicOr(slots[s], 0u);
        if (v != 0u) {
            wrtBufferFence();  // acquire: the slot before the record it names
            u32 holds = publishedRecordHolds(v - 1u, at, len);
            if (holds == 1u) kvnAtomicAdd(record_counts[v - 1u], 1u);
            if (holds != 0u) {
                outcome = holds;
                break;
            }
            s = (s + 1u) & mask;
        } else {
            if (mine == KVN_WRT_NO_SLOT) {
                mine = kvnAtomicAdd(counters[KVN_WRT_RESERVED], 1u);
                if (mine >= record_cap) {
                    outcome = 2u;
                    break;
                }
                for (u32 j = 0u; j < 8u; ++j) kvnAtomicExchange(record_words[mine * 8u + j], wrtTextWord(at, len, j));
                wrtBufferFence();  // release: the word before its length
                kvnAtomicExchange(record_lengths[mine], len);
                wrtBufferFence();  // release: the record before the slot that names it
            }
            // Another thread may claim the slot first: then it is looked at again, it may hold this word.
            if (kvnAtomicCompSwap(slots[s], 0u, mine + 1u) == 0u) {
                kvnAtomicAdd(record_counts[mine], 1u);
                outcome = 1u;
                break;
            }
        }
    }
    return outcome == 1u;
}

// Each thread adds the positions it walked to KVN_WRT_WALKED once it is done:
// a total short of n shows that lavapipe cut a thread's loops.
KVN_FN void kvnMain() {
    u32 mask = (1u << table_bits) - 1u;
    u32 record_cap = 1u << (table_bits - 1u);
    u32 stride = kvnGridBlocks() * kvn_block_threads;
    u32 walked = 0u;
    for (u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex(); i < n; i += stride) {
        ++walked;
        bool starts = wrtLetter(u32(text[i])) && (i == 0u || !wrtLetter(u32(text[i - 1u])));
        u32 len = starts ? wrtRunLength(i, n, KVN_WRT_MAX_WORD_LENGTH) : 0u;
        if (len >= KVN_WRT_MIN_WORD_LENGTH && len <= KVN_WRT_MAX_WORD_LENGTH) {
            if (!countWord(i, len, mask, record_cap)) kvnAtomicAdd(counters[KVN_WRT_DROPPED], 1u);
        }
    }
    kvnAtomicAdd(counters[KVN_WRT_WALKED], walked);
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnWrtCompactKernel)
#define KVN_KERNEL kvnWrtCompactKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, slots)                 \
    BUFFER(1, KVN_RO, u32, record_lengths)        \
    BUFFER(2, KVN_RO, u32, record_words)          \
    BUFFER(3, KVN_RO, u32, record_counts)         \
    BUFFER(4, KVN_RW, u32, counters)              \
    BUFFER(5, KVN_RW, u32, candidate_lengths)     \
    BUFFER(6, KVN_RW, u32, candidate_words)       \
    BUFFER(7, KVN_RW, u32, candidate_counts)      \
    SCALAR(u32, table_bits)                       \
    SCALAR(u32, candidate_cap)
#include "kernels/kernel_begin.h"

// A word seen c times saves c(L - 1) - (L + 1) bytes with a one-byte code:
// for c >= 5 and L >= 3 always a gain, so the count alone decides.
KVN_FN void kvnMain() {
    u32 slot_count = 1u << table_bits;
    u32 stride = kvnGridBlocks() * kvn_block_threads;
    u32 walked = 0u;
    for (u32 s = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex(); s < slot_count; s += stride) {
        ++walked;
        u32 v = slots[s];
        u32 c = v != 0u ? record_counts[v - 1u] : 0u;
        if (c >= KVN_WRT_MIN_COUNT) {
            u32 r = v - 1u;
            u32 k = kvnAtomicAdd(counters[KVN_WRT_CANDIDATES], 1u);
            if (k < candidate_cap) {
                candidate_lengths[k] = record_lengths[r];
                candidate_counts[k] = c;
                for (u32 j = 0u; j < 8u; ++j) candidate_words[k * 8u + j] = record_words[r * 8u + j];
            }
        }
    }
    kvnAtomicAdd(counters[KVN_WRT_SLOTS_WALKED], walked);
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnWrtAssignKernel)
#define KVN_KERNEL kvnWrtAssignKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u32, code_lengths)          \
    BUFFER(1, KVN_RO, u32, code_words)            \
    BUFFER(2, KVN_RO, u32, slots)                 \
    BUFFER(3, KVN_RO, u32, record_lengths)        \
    BUFFER(4, KVN_RO, u32, record_words)          \
    BUFFER(5, KVN_RW, u32, code_map)              \
    BUFFER(6, KVN_RW, u32, counters)              \
    SCALAR(u32, code_count)                       \
    SCALAR(u32, table_bits)
#include "kernels/kernel_begin.h"

#define KVN_WRT_NO_SLOT 0xFFFFFFFFu
#define KVN_WRT_PROBE_LIMIT 4096u

// Thread i finds code word i's slot and gives it the code number i + 1;
// KVN_WRT_ASSIGNED counts the words found.
KVN_FN void kvnMain() {
    u32 i = kvnBlockIndex() * kvn_block_threads + kvnThreadIndex();
    if (i >= code_count) return;
    u32 mask = (1u << table_bits) - 1u;
    u32 len = code_lengths[i];
    u32 h = 0x811C9DC5u;
    for (u32 b = 0u; b < len; ++b) h = (h ^ ((code_words[i * 8u + b / 4u] >> (8u * (b % 4u))) & 0xFFu)) * 16777619u;
    u32 s = h & mask;
    u32 found = KVN_WRT_NO_SLOT;
    for (u32 probe = 0u; probe < KVN_WRT_PROBE_LIMIT; ++probe) {
        u32 v = slots[s];
        if (v == 0u) break;
        u32 r = v - 1u;
        bool same = record_lengths[r] == len;
        for (u32 j = 0u; j < 8u; ++j) same = same && record_words[r * 8u + j] == code_words[i * 8u + j];
        if (same) {
            found = s;
            break;
        }
        s = (s + 1u) & mask;
    }
    if (found != KVN_WRT_NO_SLOT) {
        code_map[found] = i + 1u;
        kvnAtomicAdd(counters[KVN_WRT_ASSIGNED], 1u);
    }
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnWrtEncodeKernel)
#define KVN_KERNEL kvnWrtEncodeKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, text)                   \
    BUFFER(1, KVN_RO, u32, slots)                 \
    BUFFER(2, KVN_RO, u32, record_lengths)        \
    BUFFER(3, KVN_RO, u32, record_words)          \
    BUFFER(4, KVN_RO, u32, code_map)              \
    BUFFER(5, KVN_RW, u8, areas)                  \
    BUFFER(6, KVN_RW, u32, encoded_lengths)       \
    BUFFER(7, KVN_RW, u32, decoded_lengths)       \
    BUFFER(8, KVN_RW, u32, counters)              \
    SCALAR(u32, n)                                \
    SCALAR(u32, table_bits)                       \
    SCALAR(u32, one_byte_count)                   \
    SCALAR(u32, segment_count)
#include "kernels/kernel_begin.h"
#include "kernels/wrt_word_table.h"

// One segment per workgroup, walked by its first thread while the others
// return: lavapipe counts the loop steps of a workgroup's invocations
// together against its budget, and a segment alone takes up to about 20,000
// (one per byte, about three per letter of a word). The workgroup keeps 32
// threads, as the pipelines ask for full 32-lane subgroups. A walk cut short
// anyway is reported, never written.
#define KVN_WRT_OVERFLOW 0xFFFFFFFFu
#define KVN_WRT_DONE 0u
#define KVN_WRT_FULL 1u  // the area or the boundary walk ran out: the frame goes without WRT
#define KVN_WRT_CUT 2u   // the walk ended before the segment did: the GPU road failed

// Segment k's start: k x 4096 moved past the letter run it falls in. A run
// that carries it more than an area's length further makes the segment
// holding the run overflow anyway: KVN_WRT_OVERFLOW.
KVN_FN u32 segmentStart(u32 k) {
    u32 at = k * KVN_WRT_SEGMENT_SIZE;
    if (k == 0u || at >= n) return kvnMin(at, n);
    u32 result = KVN_WRT_OVERFLOW;
    for (u32 moved = 0u; moved <= KVN_WRT_SEGMENT_AREA; ++moved) {
        if (at >= n || !wrtLetter(u32(text[at - 1u])) || !wrtLetter(u32(text[at]))) {
            result = at;
            break;
        }
        ++at;
    }
    return result;
}

KVN_FN void putByte(u32 base, KVN_INOUT(u32) o, u32 b) {
    areas[base + o] = u8(b);
    ++o;
}

// The segment's tokens into its area: KVN_WRT_DONE, KVN_WRT_FULL or KVN_WRT_CUT.
KVN_FN u32 encodeSegment(u32 start, u32 end, u32 base, u32 mask, KVN_OUT(u32) written) {
    u32 o = 0u;
    u32 p = start;
    u32 status = KVN_WRT_DONE;
    written = 0u;
    // Each pass takes one byte or one run.
    while (p < end) {
        u32 b = u32(text[p]);
        if (!wrtLetter(b)) {
            if (o + 2u > KVN_WRT_SEGMENT_AREA) {
                status = KVN_WRT_FULL;
                break;
            }
            if (b >= 0x80u || b == KVN_WRT_ESCAPE || b == KVN_WRT_CAPITALIZE || b == KVN_WRT_UPPERCASE)
                putByte(base, o, KVN_WRT_ESCAPE);
            putByte(base, o, b);
            ++p;
        } else {
            // The run's length and its upper-case letters in one pass.
            u32 len = 0u;
            u32 uppers = 0u;
            while (p + len < end && len <= KVN_WRT_SEGMENT_AREA && wrtLetter(u32(text[p + len]))) {
                uppers += u32(text[p + len]) <= 0x5Au ? 1u : 0u;
                ++len;
            }
            if (len > KVN_WRT_SEGMENT_AREA) {
                status = KVN_WRT_FULL;
                break;
            }
            u32 code = 0u;
            bool codable = uppers == 0u || uppers == len || (uppers == 1u && u32(text[p]) <= 0x5Au);
            if (codable && len >= KVN_WRT_MIN_WORD_LENGTH && len <= KVN_WRT_MAX_WORD_LENGTH) {
                u32 s = wrtFindTextSlot(p, len, mask);
                if (s != KVN_WRT_NO_SLOT) code = code_map[s];
            }
            u32 v = code - 1u;
            u32 cost = (uppers > 0u ? 1u : 0u) + (v < one_byte_count ? 1u : 2u);
            if (code != 0u && cost < len) {
                if (o + 3u > KVN_WRT_SEGMENT_AREA) {
                    status = KVN_WRT_FULL;
                    break;
                }
                if (uppers == len) putByte(base, o, KVN_WRT_UPPERCASE);
                else if (uppers > 0u) putByte(base, o, KVN_WRT_CAPITALIZE);
                if (v < one_byte_count) {
                    putByte(base, o, KVN_WRT_CODE_BASE + v);
                } else {
                    putByte(base, o, KVN_WRT_PAIR_LEAD_BASE + ((v - one_byte_count) >> 7u));
                    putByte(base, o, KVN_WRT_CODE_BASE | ((v - one_byte_count) & 0x7Fu));
                }
            } else {
                if (o + len > KVN_WRT_SEGMENT_AREA) {
                    status = KVN_WRT_FULL;
                    break;
                }
                for (u32 i = 0u; i < len; ++i) putByte(base, o, u32(text[p + i]));
            }
            p += len;
        }
    }
    // A walk that stopped short without a reason of its own was cut.
    if (status == KVN_WRT_DONE && p != end) status = KVN_WRT_CUT;
    written = o;
    return status;
}

// A segment that overflows its area stores its lengths as 0xFFFFFFFF and 0;
// one whose walk was cut leaves them as the host cleared them (0xFFFFFFFF each).
KVN_FN void kvnMain() {
    u32 k = kvnBlockIndex();
    if (k >= segment_count || kvnThreadIndex() != 0u) return;
    u32 mask = (1u << table_bits) - 1u;
    u32 start = segmentStart(k);
    u32 end = k + 1u < segment_count ? segmentStart(k + 1u) : n;
    u32 written = 0u;
    u32 status = KVN_WRT_FULL;
    if (start != KVN_WRT_OVERFLOW && end != KVN_WRT_OVERFLOW)
        status = encodeSegment(start, end, k * KVN_WRT_SEGMENT_AREA, mask, written);
    if (status == KVN_WRT_CUT) return;
    if (status == KVN_WRT_FULL) {
        kvnAtomicAdd(counters[KVN_WRT_OVERFLOWS], 1u);
        encoded_lengths[k] = KVN_WRT_OVERFLOW;
        decoded_lengths[k] = 0u;
        return;
    }
    encoded_lengths[k] = written;
    decoded_lengths[k] = end - start;
}
#include "kernels/kernel_end.h"
#endif

// ---------------------------------------------------------------------------
#if defined(KVN_ENTRY_kvnWrtGatherKernel)
#define KVN_KERNEL kvnWrtGatherKernel
#define KVN_BLOCK_X 128
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, areas)                  \
    BUFFER(1, KVN_RO, u32, offsets)               \
    BUFFER(2, KVN_RO, u32, encoded_lengths)       \
    BUFFER(3, KVN_RW, u8, transformed)            \
    BUFFER(4, KVN_RW, u32, counters)              \
    SCALAR(u32, segment_count)
#include "kernels/kernel_begin.h"

// Group s copies segment s's encoded bytes to their place; KVN_WRT_GATHERED
// counts the bytes copied.
KVN_FN void kvnMain() {
    u32 s = kvnBlockIndex();
    if (s >= segment_count) return;
    u32 len = kvnMin(encoded_lengths[s], KVN_WRT_SEGMENT_AREA);
    u32 to = offsets[s];
    u32 copied = 0u;
    for (u32 t = kvnThreadIndex(); t < len; t += kvn_block_threads) {
        transformed[to + t] = u8(u32(areas[s * KVN_WRT_SEGMENT_AREA + t]));
        ++copied;
    }
    kvnAtomicAdd(counters[KVN_WRT_GATHERED], copied);
}
#include "kernels/kernel_end.h"
#endif
