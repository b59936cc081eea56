// Candidate discovery from the sorted keys, three phases between block
// barriers: the common prefix of each pair of sorted neighbours, the two best
// earlier matches of every position among its 32 sorted neighbours on each
// side, and the distance-8 candidate. No include guard (one copy per entry).

// Phase 1: neighbour word of sorted index i, (lcp << 16) | position(i), with
// the lcp of the suffixes at i and i + 1 (at most 64 and at most the bytes
// left after the later one); the last index gets its position alone.
KVN_FN void sortNeighbourWords() {
    u32 spare = sort_region + KVN_SORT_SPARE_WORD;
    for (u32 i = kvnThreadIndex(); i < sort_n; i += kvn_block_threads) {
        u32 a = sortPosition(i);
        u32 word = a;
        if (i + 1u < sort_n) {
            u32 b = sortPosition(i + 1u);
            u32 limit = kvnMin(sort_n - kvnMax(a, b), KVN_SORT_MAX_CAND_LEN);
            u32 high = sortKeyHigh(i) ^ sortKeyHigh(i + 1u);
            u32 low = (sortKeyLow(i) ^ sortKeyLow(i + 1u)) >> 16u;
            u32 same = 0u;
            if (high != 0u) same = kvnClz(high) / 8u;
            else if (low != 0u) same = 4u + (kvnClz(low) - 16u) / 8u;
            else same = sortCommonLength(a, b, limit);
            word |= kvnMin(same, limit) << 16u;
        }
        work.data[spare + i] = word;
    }
}

// Keeps the two highest scores (length << 16) | (65535 - distance).
KVN_FN void sortConsider(u32 p, u32 q, u32 len, u32 nearest, KVN_INOUT(u32) best, KVN_INOUT(u32) second) {
    if (q >= p || p - q < nearest) return;
    u32 score = (len << 16u) | (0xFFFFu - (p - q));
    if (score > best) {
        second = best;
        best = score;
    } else if (score > second) {
        second = score;
    }
}

KVN_FN u32 sortCandidateWord(u32 score) {
    if ((score >> 16u) < KVN_SORT_MIN_MATCH) return 0u;
    return (score & 0xFFFF0000u) | (0xFFFFu - (score & 0xFFFFu));
}

// Phase 2: cand and cand2 of every position from its sorted neighbours; the
// common length with a neighbour is the least lcp between them. Distances
// are at least 9, or the floor when that is larger.
KVN_FN void sortCandidates(u32 floor) {
    u32 spare = sort_region + KVN_SORT_SPARE_WORD;
    u32 nearest = kvnMax(floor, 9u);
    for (u32 i = kvnThreadIndex(); i < sort_n; i += kvn_block_threads) {
        u32 p = sortPosition(i);
        u32 best = 0u;
        u32 second = 0u;
        u32 len = KVN_SORT_MAX_CAND_LEN;
        u32 k = 1u;
        while (k <= KVN_SORT_NEIGHBOURS && k <= i) {
            len = kvnMin(len, work.data[spare + i - k] >> 16u);
            if (len < KVN_SORT_MIN_MATCH) break;
            sortConsider(p, sortPosition(i - k), len, nearest, best, second);
            k += 1u;
        }
        len = KVN_SORT_MAX_CAND_LEN;
        k = 1u;
        while (k <= KVN_SORT_NEIGHBOURS && i + k < sort_n) {
            len = kvnMin(len, work.data[spare + i + k - 1u] >> 16u);
            if (len < KVN_SORT_MIN_MATCH) break;
            sortConsider(p, sortPosition(i + k), len, nearest, best, second);
            k += 1u;
        }
        work.data[sort_region + KVN_SORT_CAND_WORD + p] = sortCandidateWord(best);
        work.data[sort_region + KVN_SORT_CAND2_WORD + p] = sortCandidateWord(second);
    }
}

// Phase 3 (floor of 8 or less): the repeat at distance 8 goes in front when
// it is at least as long as cand, else behind cand when it is at least as
// long as cand2.
KVN_FN void sortDistance8() {
    u32 cand = sort_region + KVN_SORT_CAND_WORD;
    u32 cand2 = sort_region + KVN_SORT_CAND2_WORD;
    for (u32 p = kvnThreadIndex(); p < sort_n; p += kvn_block_threads) {
        if (p < 8u) continue;
        u32 len = sortCommonLength(p, p - 8u, kvnMin(sort_n - p, KVN_SORT_MAX_CAND_LEN));
        if (len < KVN_SORT_MIN_MATCH) continue;
        u32 word = (len << 16u) | 8u;
        u32 c = work.data[cand + p];
        if (len >= (c >> 16u)) {
            work.data[cand2 + p] = c;
            work.data[cand + p] = word;
        } else if (len >= (work.data[cand2 + p] >> 16u)) {
            work.data[cand2 + p] = word;
        }
    }
}

KVN_FN void sortDiscoverBody(u32 floor) {
    sortNeighbourWords();
    kvnMemoryFence();
    kvnBarrier();
    sortCandidates(floor);
    kvnMemoryFence();
    kvnBarrier();
    if (floor <= 8u) sortDistance8();
}
