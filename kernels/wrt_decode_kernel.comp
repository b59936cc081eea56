// The inverse word transform: one warp per segment walks the segment's
// transformed bytes in windows of 32, one byte a lane. A byte that takes the
// next one with it (an escape, or the lead of a two-byte code) is told from
// the second byte of a pair by the parity of the run of such bytes before it;
// a prefix sum of what each byte emits places its output. Writes stay inside
// the segment's own output range. Every fault the CPU decoder reports (a pair
// cut by the segment end, a code without its word, a code trail without its
// high bit) makes the segment report 0xFFFFFFFF as its produced length, so
// the caller falls back to the CPU decoder, which reports it.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"

#if defined(KVN_ENTRY_kvnWrtDecodeFusedKernel)
#define KVN_KERNEL kvnWrtDecodeFusedKernel
#define KVN_BLOCK_X 32
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_WARPS
#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, transformed)            \
    BUFFER(1, KVN_RO, u32, encoded_offsets)       \
    BUFFER(2, KVN_RO, u32, encoded_lengths)       \
    BUFFER(3, KVN_RO, u32, decoded_offsets)       \
    BUFFER(4, KVN_RO, u8, word_lengths)           \
    BUFFER(5, KVN_RO, u8, word_slots)             \
    BUFFER(6, KVN_RW, u8, text_out)               \
    BUFFER(7, KVN_RW, u32, produced)              \
    SCALAR(u32, word_count)                       \
    SCALAR(u32, segment_count)                    \
    SCALAR(u32, output_size)
#include "kernels/kernel_begin.h"

KVN_FN bool takesNextByte(u32 b) {
    return b == KVN_WRT_ESCAPE || (b >= KVN_WRT_PAIR_LEAD_BASE && b <= KVN_WRT_PAIR_LEAD_LAST);
}

KVN_FN bool isCaseByte(u32 b) { return b == KVN_WRT_CAPITALIZE || b == KVN_WRT_UPPERCASE; }

// The segment's produced length when it has a fault.
#define KVN_WRT_FAULT 0xFFFFFFFFu
#define KVN_WRT_NO_WORD 0xFFFFFFFFu

KVN_FN void kvnMain() {
    u32 s = kvnBlockIndex();
    if (s >= segment_count) return;
    u32 lane = kvnLane();
    u32 e0 = encoded_offsets[s];
    u32 len = encoded_lengths[s];
    u32 d0 = decoded_offsets[s];
    u32 d1 = s + 1u < segment_count ? decoded_offsets[s + 1u] : output_size;
    d1 = kvnMin(d1, output_size);
    d0 = kvnMin(d0, d1);
    u32 room = d1 - d0;

    u32 cursor = 0u;
    u32 lead_run = 0u;       // bytes taking the next one, ending at the previous window's last byte
    u32 last_consumed = 0u;  // that byte was the second of a pair
    u32 faults = 0u;
    u32 short_stores = 0u;  // a word copy that stored fewer bytes than it should (a cut loop)
    // At most 0xFFFF bytes: 2048 windows.
    for (u32 base = 0u; base < len; base += 32u) {
        u32 at = base + lane;
        bool live = at < len;
        u32 b = live ? u32(transformed[e0 + at]) : 0u;
        u32 leads = kvnBallot(live && takesNextByte(b));
        u32 others_below = ~leads & kvnLanesBelow();
        u32 run = others_below == 0u ? lane + lead_run : lane - 1u - (31u - kvnClz(others_below));
        bool consumed = (run & 1u) != 0u;
        u32 consumed_lanes = kvnBallot(live && consumed);
        bool prev_consumed = lane == 0u ? last_consumed != 0u : ((consumed_lanes >> (lane - 1u)) & 1u) != 0u;
        u32 prev = live && at > 0u ? u32(transformed[e0 + at - 1u]) : 0u;

        u32 emit = 0u;
        u32 word = KVN_WRT_NO_WORD;
        bool fault = false;
        if (live) {
            if (consumed) {
                if (prev == KVN_WRT_ESCAPE) emit = 1u;
            } else if (b < KVN_WRT_CODE_BASE) {
                if (b == KVN_WRT_ESCAPE) fault = at + 1u >= len;
                else if (!isCaseByte(b)) emit = 1u;
            } else {
                u32 index = b - KVN_WRT_CODE_BASE;
                if (b >= KVN_WRT_PAIR_LEAD_BASE) {
                    u32 t = at + 1u < len ? u32(transformed[e0 + at + 1u]) : 0u;
                    fault = t < KVN_WRT_CODE_BASE;
                    index = KVN_WRT_ONE_BYTE_WORDS + ((b - KVN_WRT_PAIR_LEAD_BASE) << 7u) + (t & 0x7Fu);
                }
                if (index >= word_count) fault = true;
                if (!fault) {
                    word = index;
                    emit = u32(word_lengths[index]);
                }
            }
        }
        if (kvnBallot(fault) != 0u) faults = 1u;

        u32 inclusive = kvnWarpInclusiveAdd(emit);
        u32 total = kvnShuffle(inclusive, 31u);
        u32 p = cursor + inclusive - emit;
        if (word != KVN_WRT_NO_WORD) {
            u32 upper = !prev_consumed && prev == KVN_WRT_UPPERCASE ? 1u : 0u;
            u32 capital = !prev_consumed && prev == KVN_WRT_CAPITALIZE ? 1u : 0u;
            u32 due = p < room ? kvnMin(emit, room - p) : 0u;
            u32 stored = 0u;
            for (u32 i = 0u; i < due; ++i) {
                u32 c = u32(word_slots[word * KVN_WRT_MAX_WORD_LENGTH + i]);
                if (upper != 0u || (capital != 0u && i == 0u)) c = (c - 32u) & 0xFFu;
                text_out[d0 + p + i] = u8(c);
                ++stored;
            }
            if (stored != due) short_stores = 1u;
        } else if (emit != 0u && p < room) {
            text_out[d0 + p] = u8(b);
        }
        cursor += total;
        lead_run = leads == 0xFFFFFFFFu ? lead_run + 32u : kvnClz(~leads);
        last_consumed = (consumed_lanes >> 31u) & 1u;
    }
    // A loop lavapipe cut short leaves the segment unfinished: report it as a fault.
    if (kvnBallot(short_stores != 0u) != 0u) faults = 1u;
    if (lane == 0u) produced[s] = faults != 0u ? KVN_WRT_FAULT : cursor;
}
#include "kernels/kernel_end.h"
#endif
