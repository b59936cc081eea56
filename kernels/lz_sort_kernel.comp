// The sort-parse pre-pass of level 5: per sub-chunk (one block of 256 threads
// each), build one key per position, sort the keys, and derive each
// position's two best earlier matches from its sorted neighbours. The parse
// (lz_encode_kernel.comp, mode 2) reads the candidates from the same
// workspace. Every loop is bounded by the sub-chunk's 65,536 positions over
// 256 threads (or by a constant), far within lavapipe's per-invocation loop
// budget; longer sub-chunks are left alone here and stored raw by the parse.
#include "kernels/dialect.h"
#include "kernels/format_constants.h"
#include "kernels/lz_sort_layout.h"
#include "kernels/common_length.h"

KVN_SHARED(u32, sort_counts, 4096)
KVN_SHARED(u32, kvn_scan_slots, 256)

// Source bytes, the batch's descriptors, then the 24-byte push block: the
// sub-chunk count, the floor, the workspace and the source address.
#define KVN_LZ_SORT_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) \
    BUFFER(0, KVN_RO, u8, src)                            \
    BUFFER(1, KVN_RO, u32, descs)                         \
    SCALAR(u32, count)                                    \
    SCALAR(u32, min_dist)                                 \
    ADDRESS(KVN_RW, u32, work)                            \
    ADDRESS(KVN_RO, u8, src_address)

#if defined(KVN_ENTRY_kvnLzSortBuildKeysKernel)
#define KVN_KERNEL kvnLzSortBuildKeysKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_NONE
#define KVN_PARAMS KVN_LZ_SORT_PARAMS
#include "kernels/kernel_begin.h"
#include "kernels/lz_sort_common.h"

// Key of position p: bytes p .. p + 5, most significant first, then p.
KVN_FN void kvnMain() {
    if (!sortBegin()) return;
    u32 keys = sort_region + KVN_SORT_KEYS_WORD;
    for (u32 p = kvnThreadIndex(); p < sort_n; p += kvn_block_threads) {
        u32 high = (sortByte(p) << 24u) | (sortByte(p + 1u) << 16u) | (sortByte(p + 2u) << 8u) | sortByte(p + 3u);
        u32 low = (sortByte(p + 4u) << 24u) | (sortByte(p + 5u) << 16u) | p;
        work.data[keys + 2u * p] = low;
        work.data[keys + 2u * p + 1u] = high;
    }
}
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnLzSortRadixKernel)
#define KVN_KERNEL kvnLzSortRadixKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS KVN_LZ_SORT_PARAMS
#include "kernels/kernel_begin.h"
#include "kernels/lz_sort_common.h"
#include "kernels/block_scan.h"
#include "kernels/lz_sort_radix.h"

KVN_FN void kvnMain() {
    if (!sortBegin()) return;
    sortRadixBody();
}
#include "kernels/kernel_end.h"
#endif

#if defined(KVN_ENTRY_kvnLzSortDiscoverKernel)
#define KVN_KERNEL kvnLzSortDiscoverKernel
#define KVN_BLOCK_X 256
#define KVN_BLOCK_Y 1
#define KVN_SYNC KVN_SYNC_BARRIERS
#define KVN_PARAMS KVN_LZ_SORT_PARAMS
#include "kernels/kernel_begin.h"
#include "kernels/lz_sort_common.h"
#include "kernels/lz_sort_discover.h"

KVN_FN void kvnMain() {
    if (!sortBegin()) return;
    sortDiscoverBody(min_dist);
}
#include "kernels/kernel_end.h"
#endif
