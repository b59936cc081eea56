// Defines `u32 name(u32 a, u32 b, u32 limit)`: the number of equal leading
// bytes at positions a and b, at most limit (at most 64), compared a word at
// a time by WORD(pos) (little-endian) without a loop, since lavapipe counts
// every loop iteration of an invocation.
#ifndef KVN_COMMON_LENGTH_H
#define KVN_COMMON_LENGTH_H

#define KVN_COMMON_LENGTH_STEP(k, WORD)               \
    if (len == 4u * u32(k) && len < limit) {          \
        u32 x = WORD(a + len) ^ WORD(b + len);        \
        len += x == 0u ? 4u : kvnCtz(x) / 8u;         \
    }

#define KVN_DEFINE_COMMON_LENGTH(name, WORD)                                                              \
    KVN_FN u32 name(u32 a, u32 b, u32 limit) {                                                            \
        u32 len = 0u;                                                                                     \
        KVN_COMMON_LENGTH_STEP(0, WORD) KVN_COMMON_LENGTH_STEP(1, WORD) KVN_COMMON_LENGTH_STEP(2, WORD)   \
        KVN_COMMON_LENGTH_STEP(3, WORD) KVN_COMMON_LENGTH_STEP(4, WORD) KVN_COMMON_LENGTH_STEP(5, WORD)   \
        KVN_COMMON_LENGTH_STEP(6, WORD) KVN_COMMON_LENGTH_STEP(7, WORD) KVN_COMMON_LENGTH_STEP(8, WORD)   \
        KVN_COMMON_LENGTH_STEP(9, WORD) KVN_COMMON_LENGTH_STEP(10, WORD) KVN_COMMON_LENGTH_STEP(11, WORD) \
        KVN_COMMON_LENGTH_STEP(12, WORD) KVN_COMMON_LENGTH_STEP(13, WORD)                                 \
        KVN_COMMON_LENGTH_STEP(14, WORD) KVN_COMMON_LENGTH_STEP(15, WORD)                                 \
        return kvnMin(len, limit);                                                                        \
    }

#endif
