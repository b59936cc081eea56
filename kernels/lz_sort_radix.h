// The stable sort of a sub-chunk's keys on their bits 16..63: least
// significant digit first, 4 bits a pass. Thread t owns a run of consecutive
// keys; per pass it counts its run's digits into column t of the count
// table, the table (digit by digit, thread by thread) becomes exclusive
// bases through one block scan, and each thread scatters its run in order.
// Keys of one digit thus keep their order, and since the builder wrote them
// in position order, equal prefixes end up by position.
// Needs shared u32 arrays sort_counts[KVN_SORT_DIGITS * 256] and
// kvn_scan_slots[256] (block_scan.h). No include guard (one copy per entry).

KVN_FN u32 sortDigit(u32 low, u32 high, u32 pass) {
    u32 bit = 16u + pass * KVN_SORT_DIGIT_BITS;
    u32 word = bit < 32u ? low : high;
    return (word >> (bit & 31u)) & (KVN_SORT_DIGITS - 1u);
}

KVN_FN void sortRadixBody() {
    u32 t = kvnThreadIndex();
    u32 run = (sort_n + kvn_block_threads - 1u) / kvn_block_threads;
    u32 first = kvnMin(t * run, sort_n);
    u32 last = kvnMin(first + run, sort_n);
    u32 from = sort_region + KVN_SORT_KEYS_WORD;
    u32 to = sort_region + KVN_SORT_SPARE_WORD;
    for (u32 pass = 0u; pass < KVN_SORT_PASSES; pass += 1u) {
        for (u32 d = 0u; d < KVN_SORT_DIGITS; d += 1u) sort_counts[d * kvn_block_threads + t] = 0u;
        for (u32 i = first; i < last; i += 1u) {
            u32 d = sortDigit(work.data[from + 2u * i], work.data[from + 2u * i + 1u], pass);
            sort_counts[d * kvn_block_threads + t] += 1u;
        }
        kvnBarrier();
        // Thread t turns table entries 16t .. 16t + 15 into bases.
        u32 mine = 0u;
        for (u32 j = 0u; j < KVN_SORT_DIGITS; j += 1u) mine += sort_counts[t * KVN_SORT_DIGITS + j];
        u32 total;
        u32 base = blockExclusiveScan(mine, total);
        for (u32 j = 0u; j < KVN_SORT_DIGITS; j += 1u) {
            u32 c = sort_counts[t * KVN_SORT_DIGITS + j];
            sort_counts[t * KVN_SORT_DIGITS + j] = base;
            base += c;
        }
        kvnBarrier();
        for (u32 i = first; i < last; i += 1u) {
            u32 low = work.data[from + 2u * i];
            u32 high = work.data[from + 2u * i + 1u];
            u32 slot = sortDigit(low, high, pass) * kvn_block_threads + t;
            u32 at = sort_counts[slot];
            sort_counts[slot] = at + 1u;
            work.data[to + 2u * at] = low;
            work.data[to + 2u * at + 1u] = high;
        }
        kvnMemoryFence();
        kvnBarrier();
        u32 swap = from;
        from = to;
        to = swap;
    }
}
