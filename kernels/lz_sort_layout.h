// Workspace of the sort-parse road, shared by its kernels and the host: one
// region per sub-chunk of a batch, laid out in u32 words. Plain #define lines
// only, so that every compiler can include this file.
#ifndef KVN_LZ_SORT_LAYOUT_H
#define KVN_LZ_SORT_LAYOUT_H

// The LZ encode module's parse mode (specialization constant 0) for this road.
#define KVN_LZ_MODE_SORT_PARSE 2u
// Sort-parse takes sub-chunks of at most this many bytes: positions fit the
// 16 low bits of a key and a candidate's distance field.
#define KVN_SORT_MAX_LEN 65536u
// Words of one sub-chunk's region.
#define KVN_SORT_REGION_WORDS 0x50000u
// Most sub-chunks of one launch: region word offsets stay within 32 bits.
#define KVN_SORT_MAX_BATCH 13107u
// cand: per position, (length << 16) | distance of the best earlier match, 0 for none.
#define KVN_SORT_CAND_WORD 0x00000u
// The sorted keys (two words per key, low first); the key builder writes
// here and the sort ends here.
#define KVN_SORT_KEYS_WORD 0x10000u
// The sort's other buffer; afterwards its first half holds the neighbour
// words (lcp << 16) | position, per sorted index.
#define KVN_SORT_SPARE_WORD 0x30000u
// cand2: the second-best candidate per position, same form as cand.
#define KVN_SORT_CAND2_WORD 0x40000u

// A candidate word: length in the high half (4 to 64), distance in the low.
#define KVN_SORT_MIN_MATCH 4u
#define KVN_SORT_MAX_CAND_LEN 64u
// Sorted neighbours examined on each side of a position.
#define KVN_SORT_NEIGHBOURS 32u
// Key digits: 4 bits at a time over bits 16..63 of the key, 12 passes
// (an even count, so the keys end where the builder put them).
#define KVN_SORT_DIGIT_BITS 4u
#define KVN_SORT_DIGITS 16u
#define KVN_SORT_PASSES 12u

#endif
