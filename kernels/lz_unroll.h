// Thirty-two copies of STEP(k), k = 0..31: work over the lanes of a warp or
// the bits of a word without a loop (lavapipe charges every loop at least one
// iteration each time control reaches it, so per-sequence loops would eat the
// invocation's budget).
#ifndef KVN_LZ_UNROLL_H
#define KVN_LZ_UNROLL_H

#define KVN_LZ_UNROLL32(STEP)                                                                                   \
    STEP(0) STEP(1) STEP(2) STEP(3) STEP(4) STEP(5) STEP(6) STEP(7) STEP(8) STEP(9) STEP(10) STEP(11) STEP(12)   \
    STEP(13) STEP(14) STEP(15) STEP(16) STEP(17) STEP(18) STEP(19) STEP(20) STEP(21) STEP(22) STEP(23) STEP(24) \
    STEP(25) STEP(26) STEP(27) STEP(28) STEP(29) STEP(30) STEP(31)

#endif
