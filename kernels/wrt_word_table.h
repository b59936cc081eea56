// The WRT encoder's device word table, shared by the entries that read it:
// open addressing over `slots` (record index + 1, 0 empty), records of a u32
// length and a lower-cased word packed little-endian into 8 u32 (zero after
// its length). Included inside an entry, after kernel_begin.h, by entries
// whose parameters name `text`, `slots`, `record_lengths` and `record_words`;
// no include guard, as each entry takes its own copy.

KVN_FN bool wrtLetter(u32 b) { return ((b & 0xDFu) - 0x41u) <= 25u; }
KVN_FN u32 wrtLower(u32 b) { return b >= 0x41u && b <= 0x5Au ? b + 32u : b; }

// Packed bytes j*4 .. j*4+3 of the lower-cased word at text[at], L letters.
KVN_FN u32 wrtTextWord(u32 at, u32 len, u32 j) {
    u32 v = 0u;
    for (u32 k = 0u; k < 4u; ++k) {
        u32 i = j * 4u + k;
        if (i < len) v |= wrtLower(u32(text[at + i])) << (8u * k);
    }
    return v;
}

KVN_FN u32 wrtTextHash(u32 at, u32 len) {
    u32 h = 0x811C9DC5u;
    for (u32 i = 0u; i < len; ++i) h = (h ^ wrtLower(u32(text[at + i]))) * 16777619u;
    return h;
}

// Whether record r holds the lower-cased word at text[at], byte by byte so
// that a mismatch costs few loop steps (lavapipe's loop budget).
KVN_FN bool wrtRecordHoldsText(u32 r, u32 at, u32 len) {
    bool same = record_lengths[r] == len;
    for (u32 i = 0u; i < len; ++i) {
        if (!same) break;
        same = ((record_words[r * 8u + i / 4u] >> (8u * (i % 4u))) & 0xFFu) == wrtLower(u32(text[at + i]));
    }
    return same;
}

// The slot naming the word at text[at], or KVN_WRT_NO_SLOT, in a table no
// thread writes any more. Probing stops at an empty slot; the table is never
// full, but a probe longer than the limit is reported as not found too.
#define KVN_WRT_NO_SLOT 0xFFFFFFFFu
#define KVN_WRT_PROBE_LIMIT 4096u
KVN_FN u32 wrtFindTextSlot(u32 at, u32 len, u32 mask) {
    u32 s = wrtTextHash(at, len) & mask;
    u32 found = KVN_WRT_NO_SLOT;
    for (u32 probe = 0u; probe < KVN_WRT_PROBE_LIMIT; ++probe) {
        u32 v = slots[s];
        if (v == 0u) break;
        if (wrtRecordHoldsText(v - 1u, at, len)) {
            found = s;
            break;
        }
        s = (s + 1u) & mask;
    }
    return found;
}

// The length of the letter run starting at text[at], counting at most `cap` + 1 letters.
KVN_FN u32 wrtRunLength(u32 at, u32 n, u32 cap) {
    u32 len = 0u;
    while (at + len < n && len <= cap && wrtLetter(u32(text[at + len]))) ++len;
    return len;
}
