// Bit helpers written once in the dialect, identical in every build. Shifts by
// 32 or more are undefined in all three languages (and differ in practice:
// x86 masks the count, PTX clamps it), so these define them.
KVN_FN u32 kvnShiftLeft(u32 x, u32 n) { return n >= 32u ? 0u : x << n; }
KVN_FN u32 kvnShiftRight(u32 x, u32 n) { return n >= 32u ? 0u : x >> n; }

// Arithmetic right shift spelled with unsigned operations; the lint rejects
// `>>` on signed values.
KVN_FN i32 kvnShiftRightSigned(i32 x, u32 n) {
    u32 bits = u32(x);
    u32 shifted = kvnShiftRight(bits, n);
    if (x < 0) shifted = ~kvnShiftRight(~bits, n);
    return i32(shifted);
}

// The `bits` low bits from bit `offset`; bits up to 32.
KVN_FN u32 kvnLowMask(u32 bits) { return bits >= 32u ? 0xFFFFFFFFu : (1u << bits) - 1u; }
KVN_FN u32 kvnBitExtract(u32 x, u32 offset, u32 bits) { return kvnShiftRight(x, offset) & kvnLowMask(bits); }

KVN_FN u32 kvnRotateLeft(u32 x, u32 n) {
    n &= 31u;
    return n == 0u ? x : (x << n) | (x >> (32u - n));
}

KVN_FN u32 kvnByteSwap(u32 x) {
    return (x >> 24u) | ((x >> 8u) & 0xFF00u) | ((x << 8u) & 0xFF0000u) | (x << 24u);
}
