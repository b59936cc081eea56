// The steps of XXH32 with seed 0 that the kernels folding Merkle leaves into
// a root or decoded bytes into the content checksum share: the four stripe
// lanes' seeds and round, their join, the word and byte tails and the final
// avalanche. Included inside each entry after
// kernel_begin.h (no include guard: every entry takes its own copy).

KVN_CONST u32 kPrime1 = 0x9E3779B1u;
KVN_CONST u32 kPrime2 = 0x85EBCA77u;
KVN_CONST u32 kPrime3 = 0xC2B2AE3Du;
KVN_CONST u32 kPrime4 = 0x27D4EB2Fu;
KVN_CONST u32 kPrime5 = 0x165667B1u;

KVN_FN u32 xxhRound(u32 acc, u32 lane) { return kvnRotateLeft(acc + lane * kPrime2, 13u) * kPrime1; }

KVN_FN u32 laneSeed(u32 t) {
    if (t == 0u) return kPrime1 + kPrime2;
    if (t == 1u) return kPrime2;
    if (t == 2u) return 0u;
    return 0u - kPrime1;
}

// The hash before its tail: the lanes joined when there was a stripe, else
// the seed's start, plus the input length.
KVN_FN u32 xxhJoin(u32 stripes, u32 v0, u32 v1, u32 v2, u32 v3, u32 total_bytes) {
    u32 h = kPrime5;
    if (stripes > 0u) h = kvnRotateLeft(v0, 1u) + kvnRotateLeft(v1, 7u) + kvnRotateLeft(v2, 12u) + kvnRotateLeft(v3, 18u);
    return h + total_bytes;
}

KVN_FN u32 xxhTailWord(u32 h, u32 word) { return kvnRotateLeft(h + word * kPrime3, 17u) * kPrime4; }

KVN_FN u32 xxhTailByte(u32 h, u32 byte) { return kvnRotateLeft(h + byte * kPrime5, 11u) * kPrime1; }

KVN_FN u32 xxhAvalanche(u32 h) {
    h ^= h >> 15u;
    h *= kPrime2;
    h ^= h >> 13u;
    h *= kPrime3;
    h ^= h >> 16u;
    return h;
}
